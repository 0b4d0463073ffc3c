#include "neural/ModelConfigReader.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <stdexcept>
#include <utility>

namespace RuveroRidev {

ModelConfigReader::ModelConfigReader(const nlohmann::json& object, std::string context)
    : object(object), context(std::move(context)) {
    if (!object.is_object()) {
        Refuse("is not a JSON object");
    }
}

const nlohmann::json& ModelConfigReader::Member(const char* key) const {
    const auto member = object.find(key);
    if (member == object.end()) {
        Refuse(std::string("has no \"") + key + "\"");
    }
    return *member;
}

int ModelConfigReader::Integer(const char* key, int minimum, int maximum) const {
    int result = 0;
    if (!ToInteger(Member(key), minimum, maximum, result)) {
        Refuse(std::string("\"") + key + "\" must be a whole number from " + std::to_string(minimum) + " to " +
               std::to_string(maximum));
    }
    return result;
}

bool ModelConfigReader::Boolean(const char* key) const {
    const nlohmann::json& member = Member(key);
    if (!member.is_boolean()) {
        Refuse(std::string("\"") + key + "\" must be true or false");
    }
    return member.get<bool>();
}

const std::string& ModelConfigReader::String(const char* key) const {
    const nlohmann::json& member = Member(key);
    if (!member.is_string()) {
        Refuse(std::string("\"") + key + "\" must be a string");
    }
    return member.get_ref<const std::string&>();
}

std::vector<int> ModelConfigReader::Integers(const char* key, int minCount, int maxCount, int minimum,
                                             int maximum) const {
    const nlohmann::json& member = Member(key);
    if (!member.is_array() || member.size() < std::size_t(minCount) || member.size() > std::size_t(maxCount)) {
        Refuse(std::string("\"") + key + "\" must be a list of " + std::to_string(minCount) + " to " +
               std::to_string(maxCount) + " entries");
    }
    std::vector<int> values(member.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!ToInteger(member[i], minimum, maximum, values[i])) {
            Refuse(std::string("\"") + key + "\" entry " + std::to_string(i) + " must be a whole number from " +
                   std::to_string(minimum) + " to " + std::to_string(maximum));
        }
    }
    return values;
}

void ModelConfigReader::Refuse(const std::string& reason) const { throw std::invalid_argument(context + " " + reason); }

bool ModelConfigReader::ToInteger(const nlohmann::json& value, int minimum, int maximum, int& result) noexcept {
    double number = 0.0;
    if (value.is_number_unsigned()) {
        number = double(value.get<std::uint64_t>());
    } else if (value.is_number_integer()) {
        number = double(value.get<std::int64_t>());
    } else if (value.is_number_float()) {
        number = value.get<double>();
    } else {
        return false;
    }
    // NaN fails both comparisons; a fraction fails the last test.
    if (!(number >= minimum && number <= maximum) || number != std::floor(number)) {
        return false;
    }
    result = int(number);
    return true;
}

} // namespace RuveroRidev
