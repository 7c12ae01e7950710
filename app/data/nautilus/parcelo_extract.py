# Parcelo's entries in the Files (Nautilus) context menu of an archive, through nautilus-python:
# "Extract Here" runs `parcelo --extract-here FILE...` (each archive into a new folder beside it,
# named after it), "Extract to a Folder…" opens the wizard with the archive chosen. Only local
# files of the archive types Parcelo extracts get the entries. Works with the Nautilus 3 and 4
# extension interfaces; without nautilus-python installed this file is simply never loaded.
import subprocess
from urllib.parse import unquote, urlparse

import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")
from gi.repository import GObject, Nautilus

ARCHIVE_TYPES = {
    "application/zip",
    "application/x-zip-compressed",
    "application/x-zip",
    "application/java-archive",
    "application/x-7z-compressed",
    "application/vnd.rar",
    "application/x-rar",
    "application/x-tar",
    "application/x-compressed-tar",
    "application/x-bzip2-compressed-tar",
    "application/x-xz-compressed-tar",
    "application/x-zstd-compressed-tar",
    "application/x-lz4-compressed-tar",
    "application/x-lzip-compressed-tar",
    "application/x-tarz",
    "application/gzip",
    "application/x-bzip2",
    "application/x-xz",
    "application/zstd",
    "application/x-lz4",
    "application/x-lzip",
    "application/x-compress",
    "application/x-cpio",
    "application/x-cd-image",
    "application/x-lha",
    "application/x-lzh-compressed",
    "application/x-arj",
    "application/vnd.ms-cab-compressed",
    "application/x-ace",
    "application/x-zoo",
    "application/x-rar-compressed",
}


def local_path(file_info):
    """The file's path on this computer, or None for a file elsewhere."""
    uri = file_info.get_uri()
    parsed = urlparse(uri)
    if parsed.scheme != "file":
        return None
    return unquote(parsed.path)


def archive_paths(files):
    """The paths of the selected archives, or [] when anything else is selected."""
    paths = []
    for file_info in files:
        path = local_path(file_info)
        if path is None or file_info.get_mime_type() not in ARCHIVE_TYPES:
            return []
        paths.append(path)
    return paths


def extract_here(_item, paths):
    subprocess.Popen(["parcelo", "--extract-here", *paths])


def extract_to_folder(_item, paths):
    for path in paths:
        subprocess.Popen(["parcelo", path])


class ParceloExtractMenu(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *args):
        files = args[-1]  # Nautilus 3 passes the window first
        paths = archive_paths(files)
        if not paths:
            return []
        here = Nautilus.MenuItem(name="Parcelo::ExtractHere", label="Extract Here",
                                 tip="Extract into a new folder beside the archive")
        here.connect("activate", extract_here, paths)
        items = [here]
        if len(paths) == 1:
            elsewhere = Nautilus.MenuItem(name="Parcelo::ExtractToFolder",
                                          label="Extract to a Folder…",
                                          tip="Choose where the files go")
            elsewhere.connect("activate", extract_to_folder, paths)
            items.append(elsewhere)
        return items
