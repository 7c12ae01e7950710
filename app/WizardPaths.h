// The wizard's path rules: what a person types, pastes, drops or passes on the command line (a
// path in the window's own syntax, a host path, "~/..." or a file:// URL) turned into the window's
// path syntax ("C:\" is the home folder, "Z:\" the file system's root); the default folder name
// derived from an archive's name; and the destination composed from the selected directory and
// the folder name. Pure string work: nothing here touches the disk.
#pragma once

#include <string>

namespace wizard {

// A typed or passed path in the window's syntax. Surrounding blanks, line breaks and one pair of
// matching quotes (as a terminal or a file manager pastes them) are dropped; a file:// URL, a
// "~" path and an absolute host path ("/home/me/a.zip") are converted; anything else (already
// "C:\...", "Z:\...", or a relative name) is returned trimmed but otherwise as it is.
std::string SystemPathFromTyped(const std::string& typed);
// Whether a typed or passed text is a file: URL (what a file manager or a drop hands over).
bool IsFileUrl(const std::string& text);

// The part of a path after its last "\" or ":" (the whole text when there is none).
std::string FileNameOf(const std::string& path);
// The default destination folder name for an archive's file name: the name with the first
// occurrence of its extension (compared with case) cut out, so "my.zip.old.zip" gives
// "my.old.zip" and "archive.ZIP" gives "archive".
std::string DefaultFolderName(const std::string& fileName);
// "C:\" + "docs" -> "C:\docs"; "C:\Temp" + "docs" -> "C:\Temp\docs": exactly one backslash in
// between. An empty folder name makes the directory itself the destination.
std::string ComposeDestination(const std::string& directory, const std::string& folderName);

}  // namespace wizard
