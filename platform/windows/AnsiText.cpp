#include "platform/windows/AnsiText.h"

#include "foundation/TextFormat.h"

namespace platform::windows {
namespace {

// The pages whose conversions take no flags but WC_ERR_INVALID_CHARS (MSDN).
bool RefusesFlags(UINT codePage) {
    return codePage == CP_UTF7 || codePage == CP_UTF8 || codePage == 42 || codePage == 54936 ||
           (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011);
}

} // namespace

std::string AnsiText(std::wstring_view text, UINT codePage) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const std::u16string safe = ReplaceUntrustedCharacters(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
    if (safe.empty()) {
        return {};
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(safe.data());
    const int length = static_cast<int>(safe.size());
    const UINT page = codePage == CP_ACP ? ::GetACP() : codePage;
    const bool plain = RefusesFlags(page);
    const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = plain ? nullptr : "?";
    const int size =
        ::WideCharToMultiByte(page, flags, wide, length, nullptr, 0, fallback, nullptr);
    if (size > 0) {
        std::string ansi(static_cast<std::size_t>(size), '\0');
        if (::WideCharToMultiByte(page, flags, wide, length, ansi.data(), size, fallback,
                                  nullptr) == size) {
            return ansi;
        }
    }
    std::string ascii;
    ascii.reserve(safe.size());
    for (std::size_t i = 0; i < safe.size(); ++i) {
        const char16_t c = safe[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < safe.size()) {
            ++i; // one "?" for a pair
        }
        ascii += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return ascii;
}

} // namespace platform::windows
