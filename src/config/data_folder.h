// The folder of the files the program ships with (the template designs' pictures and thumbnails),
// as opposed to the per-user program folder of config/paths.h, which holds the user's data.
//
// Entry points: installedDataFolder(), installedReadme().
//
// Failure: an empty text when no candidate holds the pictures; callers then report each missing
// picture as they would a deleted one.
//
// Limits: none.
//
// Threads: any; nothing is shared.
//
// Standard: the FHS layout <prefix>/bin beside <prefix>/share/quillmark.
#pragma once

#include <string>

namespace qm {

// In order: $QUILLMARK_DATA (tests, portable use); <folder of this executable>/../share/quillmark
// (an installed copy); the build tree's generated folder (a program run where it was built). A
// candidate counts when it holds an "images" folder.
std::string installedDataFolder();

// The README of the installed documentation, the help until a manual exists. In order:
// $QUILLMARK_DOC/README.md (tests); <folder of this executable>/../share/doc/quillmark/README.md;
// the source tree's README.md (a program run where it was built). Empty when none exists.
std::string installedReadme();

}  // namespace qm
