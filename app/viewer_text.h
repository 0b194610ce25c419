// The words the viewer shows: its title and its menu's items, as code page
// 932 bytes written as escapes, so that no source file's encoding can change
// them. Each viewer converts them for its own toolkit.
#pragma once

#define VLD_TITLE "Velinde for Win"

inline constexpr char kTextComment[] = "\x83\x52\x83\x81\x83\x93\x83\x67\x95\x5C\x8E\xA6";  // show comment
inline constexpr char kTextSeethrough[] = "\x95\xC7\x8E\x86\x93\xA7\x89\xDF";  // see-through wallpaper
inline constexpr char kTextTopmost[] =
    "\x8F\xED\x82\xC9\x8E\xE8\x91\x4F\x82\xC9\x95\x5C\x8E\xA6";                // always on top
inline constexpr char kTextFrameless[] = "\x98\x67\x82\xC8\x82\xB5";        // no frame
inline constexpr char kTextExit[] = "\x8F\x49\x97\xB9";                     // exit
