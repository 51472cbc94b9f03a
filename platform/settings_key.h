// The company and program that choose the settings store, kept once for both platforms'
// stores (SetSettingsKey in settings.h sets them).
#pragma once

#include <string>

namespace platform {

struct SettingsKey {
    std::string company;
    std::string program;  // empty when no valid key was set: reads default, writes fail
};

// The key last set.
SettingsKey CurrentSettingsKey();

}  // namespace platform
