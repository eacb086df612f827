// An in-memory stand-in for the file and process primitives of platform.h
// (fake_platform.cpp), which the tests switch and inspect.
#pragma once

#include "platform.h"

#include <functional>
#include <map>
#include <set>
#include <string>

struct FakeSystem {
    std::map<std::string, std::string> files;  // the working directory
    std::set<std::string> folders;             // the folders that exist
    bool failWrite = false;                    // writes fail, having written their bytes
    bool failFlush = false;
    bool failRename = false;
    int heldRenames = 0;                       // renames refused as held by another process
    int takenFolders = 0;                      // new folders that "exist" already
    bool everyNameTaken = false;               // every new file "exists" already
    int creations = 0;                         // new files asked for
    std::function<void()> whileDecoding = [] {};  // runs as the decoding's guard is set
    std::function<void()> whileWriting = [] {};   // runs on each write
};

extern FakeSystem fake;
