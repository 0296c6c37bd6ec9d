#pragma once
// kvtool's exit codes, as its --help and docs/kvtool.md list them.
namespace kelvane::cli {

enum Exit : int {
    kDone = 0,
    kUsage = 1,            // bad arguments, or a question that could not be asked
    kFileError = 2,        // a file missing, unreadable, refused or not written
    kPortError = 3,        // the port cannot be opened
    kNoAnswer = 4,         // no answer or a time-out
    kRefused = 5,          // the device refused: wrong device type, programming error
    kDifferences = 6,      // check / diff found differences
    kOtherController = 7,  // upload: the file's image came from another controller
    kFlatRefused = 8,      // flat: the action was refused (no such flat, key or code)
    kInterrupted = 130,    // Ctrl-C
};

}  // namespace kelvane::cli
