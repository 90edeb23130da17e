#pragma once
// The application's fixed names and the maker's addresses, kept in one place.
#include "platform/version.h"

namespace ravelin {

inline constexpr const char* kApplicationTitle = "Ravelin Pro";
inline constexpr const char* kApplicationName = "Ravelin";
inline constexpr const char* kOrganisationName = "Korvane Corp.";
inline constexpr const char* kSettingsGroup = "v6.0";
inline constexpr const char* kHelpFileName = "ravelin.hlp";
// "major.minor" of CMake's project version: --version and the About box.
inline constexpr const char* kVersionText = RAVELIN_VERSION_TEXT;

// The maker's web host and pages.
inline constexpr const char* kWebHost = "www.korvane.example";
inline constexpr const char* kWebMainPage = "http://www.korvane.example/";
inline constexpr const char* kWebDownloadsPage = "http://www.korvane.example/products/index.html";
inline constexpr const char* kWebInternetProductsPage = "http://www.korvane.example/internet/index.html";
inline constexpr const char* kWebDevelopersPage = "http://www.korvane.example/developers/index.html";
inline constexpr const char* kWebSearchPage = "http://www.korvane.example/search/index.html";

// The maker's mail addresses.
inline constexpr const char* kMailSupport = "support@korvane.example";
inline constexpr const char* kMailSuggestions = "suggestions@korvane.example";
inline constexpr const char* kMailFeatures = "features@korvane.example";
inline constexpr const char* kMailBugs = "bugs@korvane.example";

} // namespace ravelin
