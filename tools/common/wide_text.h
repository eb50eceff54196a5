#pragma once

#include <string>

// The test tools' 8-bit strings and Windows' wide ones. Every wide string,
// unpaired surrogates included, has an 8-bit form here: UTF-8 that may also
// encode a lone surrogate on its own (WTF-8). So a test can hand a program
// any name the console can type, also one that no UTF-8 text holds.

inline std::wstring wtf8_to_wide(const std::string& text)
{
    std::wstring wide;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int more = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
        char32_t code = more == 0 ? byte : byte & (0x3F >> more);
        for (int k = 1; k <= more && i + static_cast<std::size_t>(k) < text.size(); ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(more) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (code >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code);
        }
    }
    return wide;
}

inline std::string wide_to_wtf8(const wchar_t* wide)
{
    std::string text;
    for (const wchar_t* at = wide; *at; ++at) {
        char32_t code = static_cast<char16_t>(*at);
        if (code >= 0xD800 && code < 0xDC00 && at[1] >= 0xDC00 && at[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char16_t>(at[1]) - 0xDC00);
            ++at;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}
