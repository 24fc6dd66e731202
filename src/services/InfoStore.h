#pragma once
// The local info store and the user defaults as pages use them: the work
// of the Window methods getAppInfoFromLocal, saveAppInfoToLocal,
// setInfoToUserDefaults, getInfoFromUserDefaults and
// removeItemFromUserDefaults, from params dictionary to result dictionary.
// Platform-free; the Window object adds the callback.
#include <nlohmann/json.hpp>

#include <string>

namespace corvane {

class UserDefaults;

namespace infostore {

// The message texts pages compare against.
inline constexpr const char* kFileNotExists = "file is not exists.";
inline constexpr const char* kFileSaveError = "file save error.";
inline constexpr const char* kDataFormatError = "data format type is error.";
inline constexpr const char* kKeyAndValueEmpty = "key and value can't empty!";
inline constexpr const char* kKeyEmpty = "key can't empty!";
inline constexpr const char* kNotFound = "map key value no found!";

nlohmann::json getAppInfoFromLocal(const nlohmann::json& params);
nlohmann::json saveAppInfoToLocal(const nlohmann::json& params);
nlohmann::json setInfoToUserDefaults(const nlohmann::json& params, UserDefaults& defaults);
nlohmann::json getInfoFromUserDefaults(const nlohmann::json& params, const UserDefaults& defaults);
nlohmann::json removeItemFromUserDefaults(const nlohmann::json& params, UserDefaults& defaults);

}  // namespace infostore
}  // namespace corvane
