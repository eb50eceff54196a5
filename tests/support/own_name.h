#pragma once

#include <cstdlib>
#include <random>
#include <string>

// The name of an object a test makes: every run has names of its own, so
// that runs side by side never meet. SHMPEEK_TEST_RUN, when set, goes into
// each name, so that a script can check afterwards that none was left.
inline std::string own_name(const std::string& what)
{
    static const std::string stem = [] {
        const char* tag = std::getenv("SHMPEEK_TEST_RUN");
        std::string s = "shmpeek-";
        if (tag && *tag)
            s += std::string(tag) + "-";
        return s + std::to_string(std::random_device{}()) + "-";
    }();
    return stem + what;
}
