#include "client/FormUSBWarningUnit.h"

#include "client/EntrySequence.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "service/USBServiceUnit.h"

void TFormUSBWarning::FormCreate() {
    view_.SetBeepTimerEnabled(true);
    for (int flash = 0; flash < kCaptionFlashes; ++flash) {
        view_.FlashCaption();
    }
}

void TFormUSBWarning::TimerBeepTimer() {
    // Once per window: a warning left open stays silent after its burst.
    view_.SetBeepTimerEnabled(false);
    for (int beep = 0; beep < kBeeps; ++beep) {
        view_.Beep(kBeepFrequencyHz, kBeepDurationMs);
    }
}

void TFormUSBWarning::Button1Click() {
    view_.SetModalResult(mrCancel);
    view_.Close();
}

void TFormUSBWarning::ButtonDevicesClick() {
    view_.SetModalResult(mrYes);
    if (!StartedAsHelper) {
        return; // the modal result alone tells the tray monitor to open the device list
    }
    // A helper has no caller to report to: the service shows the device list instead.
    if (Settings().Debug() && Log != nullptr) {
        Log->Add(kDevicesRequestedLine);
    }
    USBService().SendControlCode(kShowDevicesControlCode);
    view_.Close();
}
