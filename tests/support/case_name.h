#pragma once

#include <cctype>
#include <string>

// A table row's label as a test name: letters and digits, the rest '_'.
inline std::string case_name(const char* label)
{
    std::string name;
    for (const char* p = label; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// For INSTANTIATE_TEST_SUITE_P over rows that have a label.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& info) const
    {
        return case_name(info.param.label);
    }
};
