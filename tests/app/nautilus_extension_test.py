#!/usr/bin/env python3
"""The Files (Nautilus) extension with a stand-in for nautilus-python's modules: which selections
get Parcelo's menu entries, and the commands the entries start. Usage: nautilus_extension_test.py
PATH/TO/parcelo_extract.py"""
import importlib.util
import sys
from pathlib import Path
import types

started = []


class MenuItem:
    def __init__(self, name, label, tip):
        self.name, self.label, self.tip = name, label, tip
        self.handlers = []

    def connect(self, signal, handler, *data):
        assert signal == "activate"
        self.handlers.append((handler, data))

    def activate(self):
        for handler, data in self.handlers:
            handler(self, *data)


def install_stand_ins():
    gi = types.ModuleType("gi")
    gi.require_version = lambda name, version: None
    repository = types.ModuleType("gi.repository")
    repository.GObject = types.SimpleNamespace(GObject=type("GObject", (), {}))
    repository.Nautilus = types.SimpleNamespace(MenuProvider=type("MenuProvider", (), {}),
                                                MenuItem=MenuItem)
    gi.repository = repository
    sys.modules["gi"] = gi
    sys.modules["gi.repository"] = repository


class File:
    def __init__(self, uri, mime):
        self.uri, self.mime = uri, mime

    def get_uri(self):
        return self.uri

    def get_mime_type(self):
        return self.mime


def main():
    install_stand_ins()
    spec = importlib.util.spec_from_file_location("parcelo_extract", sys.argv[1])
    extension = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(extension)
    extension.subprocess = types.SimpleNamespace(Popen=lambda argv: started.append(argv))
    menu = extension.ParceloExtractMenu()

    zip_a = File("file:///home/me/Holiday%20photos.zip", "application/zip")
    zip_b = File("file:///home/me/b.zip", "application/x-zip-compressed")
    text = File("file:///home/me/notes.txt", "text/plain")
    remote = File("sftp://server/x.zip", "application/zip")

    assert menu.get_file_items([text]) == []
    assert menu.get_file_items([zip_a, text]) == []  # a mixed selection gets nothing
    assert menu.get_file_items([remote]) == []

    items = menu.get_file_items([zip_a])  # Nautilus 4 passes the files only
    assert [i.label for i in items] == ["Extract Here", "Extract to a Folder…"], items
    items[0].activate()
    items[1].activate()
    assert started == [["parcelo", "--extract-here", "/home/me/Holiday photos.zip"],
                       ["parcelo", "/home/me/Holiday photos.zip"]], started

    started.clear()
    items = menu.get_file_items(None, [zip_a, zip_b])  # Nautilus 3 passes the window first
    assert [i.label for i in items] == ["Extract Here"], items
    items[0].activate()
    assert started == [["parcelo", "--extract-here", "/home/me/Holiday photos.zip",
                        "/home/me/b.zip"]], started
    # Every type the wizard opens gets the entries too: a gzipped tar, a 7z, an LHA archive.
    started.clear()
    for uri, mime in (("file:///home/me/src.tar.gz", "application/x-compressed-tar"),
                      ("file:///home/me/set.7z", "application/x-7z-compressed"),
                      ("file:///home/me/old.lzh", "application/x-lha")):
        items = menu.get_file_items([File(uri, mime)])
        assert [i.label for i in items] == ["Extract Here", "Extract to a Folder…"], (mime, items)
        items[0].activate()
    assert [argv[-1] for argv in started] == ["/home/me/src.tar.gz", "/home/me/set.7z",
                                              "/home/me/old.lzh"], started
    # The extension, Dolphin's service menu and the desktop entry offer the same types.
    data = Path(sys.argv[1]).resolve().parent.parent

    def desktop_types(name):
        for line in (data / name).read_text(encoding="utf-8").splitlines():
            if line.startswith("MimeType="):
                return {t for t in line[len("MimeType="):].split(";") if t}
        return set()

    assert desktop_types("org.parcelo.Parcelo.desktop") == extension.ARCHIVE_TYPES
    assert desktop_types("org.parcelo.Parcelo.extract.desktop") == extension.ARCHIVE_TYPES
    print("nautilus_extension_test: menu entries and commands as expected")


if __name__ == "__main__":
    main()
