#include "foundation/TextFormat.h"

#include <cctype>
#include <vector>

namespace {

struct Placeholder {
    bool leftJustify = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    char type = 0;
};

// Bounded so that a format string cannot ask for a gigabyte of padding.
constexpr std::size_t kMaxFieldWidth = 1024;

std::optional<std::size_t> ReadNumber(std::string_view format, std::size_t& pos) {
    std::size_t value = 0;
    const std::size_t start = pos;
    while (pos < format.size() && std::isdigit(static_cast<unsigned char>(format[pos]))) {
        value = value * 10 + static_cast<std::size_t>(format[pos] - '0');
        if (value > kMaxFieldWidth) {
            return std::nullopt;
        }
        ++pos;
    }
    if (pos == start) {
        return std::size_t{0};
    }
    return value;
}

std::optional<Placeholder> ParsePlaceholder(std::string_view format, std::size_t& pos) {
    Placeholder p;
    if (pos < format.size() && format[pos] == '-') {
        p.leftJustify = true;
        ++pos;
    }
    const auto width = ReadNumber(format, pos);
    if (!width) {
        return std::nullopt;
    }
    p.width = *width;
    if (pos < format.size() && format[pos] == '.') {
        ++pos;
        const auto precision = ReadNumber(format, pos);
        if (!precision) {
            return std::nullopt;
        }
        p.precision = *precision;
    }
    if (pos >= format.size()) {
        return std::nullopt;
    }
    p.type = format[pos++];
    return p;
}

std::string Digits(std::uint64_t value, char type) {
    const char* digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned base = (type == 'x' || type == 'X') ? 16 : 10;
    std::string out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

// Negative numbers under %u and %x show their 32-bit pattern, as the Windows formatter
// does for the 32-bit integers these formats are used with.
std::uint64_t AsUnsigned(const FormatArg& arg) {
    if (arg.kind() == FormatArg::Kind::Unsigned) {
        return arg.unsignedValue();
    }
    const std::int64_t value = arg.signedValue();
    if (value < 0 && value >= INT32_MIN) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    }
    return static_cast<std::uint64_t>(value);
}

std::optional<std::string> FormatOne(const Placeholder& p, const FormatArg& arg) {
    std::string body;
    switch (p.type) {
    case 's':
        if (arg.kind() != FormatArg::Kind::Text) {
            return std::nullopt;
        }
        body = arg.text();
        if (p.precision && body.size() > *p.precision) {
            body.resize(*p.precision);
        }
        break;
    case 'd': {
        if (arg.kind() == FormatArg::Kind::Text) {
            return std::nullopt;
        }
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (arg.kind() == FormatArg::Kind::Signed && arg.signedValue() < 0) {
            negative = true;
            magnitude = static_cast<std::uint64_t>(-(arg.signedValue() + 1)) + 1;
        } else {
            magnitude = arg.kind() == FormatArg::Kind::Signed
                            ? static_cast<std::uint64_t>(arg.signedValue())
                            : arg.unsignedValue();
        }
        body = Digits(magnitude, 'd');
        if (p.precision && body.size() < *p.precision) {
            body.insert(0, *p.precision - body.size(), '0');
        }
        if (negative) {
            body.insert(body.begin(), '-');
        }
        break;
    }
    case 'u':
    case 'x':
    case 'X':
        if (arg.kind() == FormatArg::Kind::Text) {
            return std::nullopt;
        }
        body = Digits(AsUnsigned(arg), p.type);
        if (p.precision && body.size() < *p.precision) {
            body.insert(0, *p.precision - body.size(), '0');
        }
        break;
    default:
        return std::nullopt;
    }
    if (body.size() < p.width) {
        const std::string padding(p.width - body.size(), ' ');
        body = p.leftJustify ? body + padding : padding + body;
    }
    return body;
}

} // namespace

std::optional<std::string> FormatText(std::string_view format,
                                      std::initializer_list<FormatArg> args) {
    std::string out;
    auto next = args.begin();
    std::size_t pos = 0;
    while (pos < format.size()) {
        const char c = format[pos++];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (pos < format.size() && format[pos] == '%') {
            out.push_back('%');
            ++pos;
            continue;
        }
        const auto placeholder = ParsePlaceholder(format, pos);
        if (!placeholder || next == args.end()) {
            return std::nullopt;
        }
        const auto piece = FormatOne(*placeholder, *next++);
        if (!piece) {
            return std::nullopt;
        }
        out += *piece;
    }
    if (next != args.end()) {
        return std::nullopt;
    }
    return out;
}

std::string EscapeControlCharacters(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            escaped += "\\x";
            escaped += kHexDigits[code >> 4];
            escaped += kHexDigits[code & 0xF];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

namespace {

bool IsUntrusted(char16_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB);
}

} // namespace

std::u16string ReplaceUntrustedCharacters(std::u16string_view text) {
    std::u16string safe(text);
    for (std::size_t i = 0; i < safe.size(); ++i) {
        const char16_t c = safe[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < safe.size() && safe[i + 1] >= 0xDC00 && safe[i + 1] <= 0xDFFF) {
            ++i; // a pair: a character beyond the basic plane
        } else if (high || low || IsUntrusted(c)) {
            safe[i] = u'?';
        }
    }
    return safe;
}
