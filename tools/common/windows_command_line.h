#pragma once

#include <string>

// Quotes one argument so that the C runtime's command-line splitting gives
// it back unchanged: blanks and quotes inside quotes, backslashes doubled
// only where a quote follows them.
inline std::string quote_windows_argument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char ch : arg) {
        if (ch == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(ch == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(ch);
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

template <typename Args>
std::string windows_command_line(const Args& args)
{
    std::string line;
    for (const auto& arg : args) {
        if (!line.empty())
            line.push_back(' ');
        line += quote_windows_argument(arg);
    }
    return line;
}
