#pragma once
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// One typed argument of a log format. Only integers and texts convert to it, so a
// caller cannot hand the formatter something it would misread.
class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Text };

    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
        FormatArg(T value) { // NOLINT(google-explicit-constructor): arguments convert implicitly
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = value;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = value;
        }
    }
    FormatArg(const char* text) : kind_(Kind::Text), text_(text == nullptr ? "" : text) {}
    FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}

    Kind kind() const { return kind_; }
    std::int64_t signedValue() const { return signed_; }
    std::uint64_t unsignedValue() const { return unsigned_; }
    const std::string& text() const { return text_; }

private:
    Kind kind_;
    std::int64_t signed_ = 0;
    std::uint64_t unsigned_ = 0;
    std::string text_;
};

// printf-like formatting with typed arguments: %d, %u, %x, %X, %s and %%, each with an
// optional "-" (left-justify), width and ".precision". Returns nullopt when a
// placeholder is malformed, its argument has the wrong kind, or the number of
// placeholders and arguments differ; never a partial text.
std::optional<std::string> FormatText(std::string_view format,
                                      std::initializer_list<FormatArg> args);

// A text that a device's owner controls (vendor, product, volume label) with every control
// character (codes 0 to 31 and 127) written as "\xNN": a line break or an escape sequence
// from a stick must not forge log lines or reach a window as a control.
std::string EscapeControlCharacters(std::string_view text);

// UTF-16 text from another process made fit for any ANSI code page, UTF-8 included: the
// characters that change how the text around them reads (C1 controls, direction marks,
// embeddings, overrides and isolates, zero-width and other invisible format characters,
// byte order marks, interlinear annotations) and unpaired surrogates become "?". A code
// page that holds every character would otherwise pass them through to a window.
std::u16string ReplaceUntrustedCharacters(std::u16string_view text);
