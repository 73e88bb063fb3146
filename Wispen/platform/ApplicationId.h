#pragma once

// The one reverse-DNS identifier of the application: its name on the session bus,
// its desktop entry, its icon and its autostart entry. The build defines it.
namespace ApplicationId {

inline constexpr const char* id = WISPEN_APPLICATION_ID;
// The name the desktop shows for it.
inline constexpr const char* displayName = "Wispen Rezuraz";

} // namespace ApplicationId
