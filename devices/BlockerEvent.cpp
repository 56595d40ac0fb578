#include "devices/BlockerEvent.h"

#include <limits>

#include "foundation/Paths.h"
#include "foundation/TextFormat.h"

namespace {

constexpr std::string_view kProvider = "Microsoft-Windows-Kernel-PnP";
constexpr std::string_view kEventId = "225";
constexpr std::string_view kCutMark = "...";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The text with its XML references (the five named ones and character references)
// resolved; a character beyond ASCII becomes "?" (texts are 8-bit ANSI, and the system
// has converted the others already). nullopt for a malformed reference.
std::optional<std::string> DecodeReferences(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '&') {
            decoded += text[at++];
            continue;
        }
        const std::size_t end = text.find(';', at);
        if (end == std::string_view::npos || end - at > 10) {
            return std::nullopt;
        }
        const std::string_view name = text.substr(at + 1, end - at - 1);
        at = end + 1;
        if (name == "amp") {
            decoded += '&';
        } else if (name == "lt") {
            decoded += '<';
        } else if (name == "gt") {
            decoded += '>';
        } else if (name == "quot") {
            decoded += '"';
        } else if (name == "apos") {
            decoded += '\'';
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty()) {
                return std::nullopt;
            }
            std::uint32_t code = 0;
            for (const char c : digits) {
                int digit = -1;
                if (c >= '0' && c <= '9') {
                    digit = c - '0';
                } else if (hex && Lower(c) >= 'a' && Lower(c) <= 'f') {
                    digit = Lower(c) - 'a' + 10;
                }
                if (digit < 0) {
                    return std::nullopt;
                }
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
            }
            decoded += code < 0x80 ? static_cast<char>(code) : '?';
        } else {
            return std::nullopt;
        }
    }
    return decoded;
}

// The start of the next element `name` at or after `from` ("<name" followed by a blank,
// "/" or ">"), or npos.
std::size_t FindElement(std::string_view xml, std::string_view name, std::size_t from) {
    for (;;) {
        const std::size_t at = xml.find(name, from);
        if (at == std::string_view::npos) {
            return at;
        }
        const std::size_t after = at + name.size();
        if (at > 0 && xml[at - 1] == '<' && after < xml.size() &&
            (xml[after] == ' ' || xml[after] == '/' || xml[after] == '>' || xml[after] == '\t' ||
             xml[after] == '\r' || xml[after] == '\n')) {
            return at - 1;
        }
        from = after;
    }
}

struct Element {
    std::string_view tag;     // between "<" and ">" (or "/>")
    std::string_view content; // raw, up to the closing tag
    std::size_t end = 0;      // just past the element
};

std::optional<Element> ReadElement(std::string_view xml, std::size_t start, std::string_view name) {
    const std::size_t tagEnd = xml.find('>', start);
    if (tagEnd == std::string_view::npos) {
        return std::nullopt;
    }
    Element element;
    if (xml[tagEnd - 1] == '/') {
        element.tag = xml.substr(start + 1, tagEnd - start - 2);
        element.end = tagEnd + 1;
        return element;
    }
    element.tag = xml.substr(start + 1, tagEnd - start - 1);
    const std::string closing = "</" + std::string(name) + ">";
    const std::size_t close = xml.find(closing, tagEnd + 1);
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    element.content = xml.substr(tagEnd + 1, close - tagEnd - 1);
    if (element.content.find('<') != std::string_view::npos) {
        return std::nullopt; // no markup inside a value
    }
    element.end = close + closing.size();
    return element;
}

// The value of the attribute Name='...' (or "...") of a tag, decoded.
std::optional<std::string> NameAttribute(std::string_view tag) {
    std::size_t at = 0;
    for (;;) {
        at = tag.find("Name=", at);
        if (at == std::string_view::npos || at + 6 > tag.size()) {
            return std::nullopt;
        }
        if (at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t')) {
            break;
        }
        at += 5;
    }
    const char quote = tag[at + 5];
    if (quote != '\'' && quote != '"') {
        return std::nullopt;
    }
    const std::size_t end = tag.find(quote, at + 6);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return DecodeReferences(tag.substr(at + 6, end - at - 6));
}

std::optional<std::uint32_t> ParseProcessId(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool IsTheBlockerEvent(std::string_view xml) {
    const std::size_t provider = FindElement(xml, "Provider", 0);
    const std::size_t eventId = FindElement(xml, "EventID", 0);
    if (provider == std::string_view::npos || eventId == std::string_view::npos) {
        return false;
    }
    const auto providerElement = ReadElement(xml, provider, "Provider");
    const auto idElement = ReadElement(xml, eventId, "EventID");
    if (!providerElement || !idElement) {
        return false;
    }
    const auto providerName = NameAttribute(providerElement->tag);
    return providerName && *providerName == kProvider && idElement->content == kEventId;
}

} // namespace

std::string BlockerEventQuery(std::uint64_t windowMs) {
    return "*[System[Provider[@Name='" + std::string(kProvider) +
           "'] and (EventID=" + std::string(kEventId) +
           ") and TimeCreated[timediff(@SystemTime) <= " + std::to_string(windowMs) + "]]]";
}

std::optional<BlockerEvent> ParseBlockerEvent(std::string_view xml) {
    if (xml.size() > kMaxBlockerEventXml || !IsTheBlockerEvent(xml)) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> processId;
    std::optional<std::string> imagePath;
    std::optional<std::string> deviceInstance;
    std::size_t at = FindElement(xml, "Data", 0);
    for (; at != std::string_view::npos; at = FindElement(xml, "Data", at)) {
        const auto element = ReadElement(xml, at, "Data");
        if (!element) {
            return std::nullopt;
        }
        at = element->end;
        const auto name = NameAttribute(element->tag);
        if (!name) {
            continue; // unnamed data of another kind of event: not ours
        }
        const auto value = DecodeReferences(element->content);
        std::optional<std::string>* text = nullptr;
        if (*name == "ProcessId") {
            if (processId || !value) {
                return std::nullopt;
            }
            processId = ParseProcessId(*value);
            if (!processId) {
                return std::nullopt;
            }
            continue;
        }
        if (*name == "ProcessName") {
            text = &imagePath;
        } else if (*name == "DeviceInstance") {
            text = &deviceInstance;
        } else {
            continue; // the lengths, the command line: not needed, never kept
        }
        if (text->has_value() || !value) {
            return std::nullopt; // given twice, or malformed
        }
        *text = *value;
    }
    if (!processId || !imagePath || !deviceInstance || imagePath->empty() ||
        imagePath->size() > kMaxImagePathRead || deviceInstance->empty() ||
        deviceInstance->size() > kMaxDeviceInstanceId) {
        return std::nullopt;
    }
    return BlockerEvent{*processId, *imagePath, *deviceInstance};
}

std::vector<BlockerEvent> SelectBlockerEvents(const std::vector<std::string>& xmls,
                                              std::string_view deviceInstance) {
    std::vector<BlockerEvent> selected;
    for (const auto& xml : xmls) {
        auto event = ParseBlockerEvent(xml);
        if (!event || !EqualsIgnoringCase(event->deviceInstance, deviceInstance)) {
            continue;
        }
        bool known = false;
        for (const auto& earlier : selected) {
            known = known || (earlier.processId == event->processId &&
                              EqualsIgnoringCase(earlier.imagePath, event->imagePath));
        }
        if (!known && selected.size() < kMaxBlockersNamed) {
            selected.push_back(std::move(*event));
        }
    }
    return selected;
}

std::optional<std::string>
MapToDriveLetter(std::string_view ntPath,
                 const std::vector<std::pair<char, std::string>>& dosDevices) {
    for (const auto& [letter, target] : dosDevices) {
        if (!target.empty() && ntPath.size() > target.size() && ntPath[target.size()] == '\\' &&
            EqualsIgnoringCase(ntPath.substr(0, target.size()), target)) {
            return std::string(1, letter) + ":" + std::string(ntPath.substr(target.size()));
        }
    }
    return std::nullopt;
}

std::string DisplayText(std::string_view text, std::size_t limit) {
    std::string trimmed = Trim(std::string(text));
    if (trimmed.size() > limit) {
        trimmed.resize(limit - kCutMark.size());
        trimmed += kCutMark;
    }
    return EscapeControlCharacters(trimmed);
}

std::string ProgramName(std::string_view imagePath) {
    const std::size_t separator = imagePath.find_last_of('\\');
    const std::string_view name =
        separator == std::string_view::npos ? imagePath : imagePath.substr(separator + 1);
    return DisplayText(name.empty() ? imagePath : name, kMaxBlockerName);
}

namespace {

std::string NameAndProcess(const Blocker& blocker) {
    return blocker.name + " (process " + std::to_string(blocker.processId) + ")";
}

} // namespace

std::string VetoBoxText(const std::vector<Blocker>& blockers) {
    std::string text = kEjectVetoedText;
    if (!blockers.empty()) {
        text += "\n";
    }
    for (const auto& blocker : blockers) {
        text += "\nBlocked by: ";
        if (!blocker.description.empty()) {
            text += blocker.description + " - ";
        }
        text += NameAndProcess(blocker);
        if (!blocker.path.empty()) {
            text += "\n" + blocker.path;
        }
    }
    return text;
}

std::string VetoLogLine(std::string_view driveLetter, const std::vector<Blocker>& blockers) {
    std::string line = "Eject of " + std::string(driveLetter) + ": refused";
    for (std::size_t i = 0; i < blockers.size(); ++i) {
        line += (i == 0 ? " by " : ", ") + NameAndProcess(blockers[i]);
    }
    return line;
}

std::string VetoEventText(std::string_view driveLetter, const std::vector<Blocker>& blockers) {
    std::string text = VetoLogLine(driveLetter, blockers) + ".";
    for (const Blocker& blocker : blockers) {
        if (!blocker.path.empty()) {
            text += " " + blocker.name + ": " + blocker.path + ".";
        }
    }
    return text;
}
