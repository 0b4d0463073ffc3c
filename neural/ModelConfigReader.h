#pragma once
// Checked reads of a model file's configuration object. Every member a loader needs must be present, of its
// type and inside its bounds; anything else refuses the file with std::invalid_argument, whose text names the
// object and the member, before the loader allocates what the member would size.
#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

namespace RuveroRidev {

class ModelConfigReader {
public:
    // context names the object in refusals, e.g. "WaveNet layer array 1". Refuses anything but a JSON object.
    ModelConfigReader(const nlohmann::json& object, std::string context);

    // The member itself; refuses a missing one.
    const nlohmann::json& Member(const char* key) const;
    // An integer (a number with no fraction) from minimum to maximum.
    int Integer(const char* key, int minimum, int maximum) const;
    bool Boolean(const char* key) const;
    const std::string& String(const char* key) const;
    // An array of minCount to maxCount integers, each from minimum to maximum. The count is checked before
    // anything is read.
    std::vector<int> Integers(const char* key, int minCount, int maxCount, int minimum, int maximum) const;

    [[noreturn]] void Refuse(const std::string& reason) const;

    // The integer value of a JSON number with no fraction inside the bounds; false for anything else.
    static bool ToInteger(const nlohmann::json& value, int minimum, int maximum, int& result) noexcept;

private:
    const nlohmann::json& object;
    std::string context;
};

} // namespace RuveroRidev
