#pragma once

// Where the maker can be reached: the About window's links. Kept in this one place.
inline constexpr const char* kMakerWebsite = "www.tarnvik.example";
inline constexpr const char* kMakerWebsiteUrl = "https://www.tarnvik.example/driveward";
inline constexpr const char* kMakerEMail = "info@tarnvik.example";
inline constexpr const char* kMakerCopyright = "Copyright (c) 2026 Tarnvik";
inline constexpr const char* kMakerRights = "All rights reserved.";
