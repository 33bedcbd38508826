#ifndef SYNCHRONISATION_FILE_H
#define SYNCHRONISATION_FILE_H

#include "synchronisation.h"

#include <string>

// The Synchronisation menu's settings kept across runs, in a file of their
// own beside the port file, so that the configuration files keep their
// layout.
namespace SynchronisationFile
{

// Relative on purpose, as the port file: the settings belong to the folder
// the program is started from.
constexpr char NAME[] = "NUBTactile_sync.cfg";
// More than any file of settings holds; a bigger one is read this far.
constexpr std::size_t MAX_BYTES = 4096;

// The settings in `path`: the defaults when there is no file. `problem` says,
// for the operator, what could not be read (an unreadable file, or keys whose
// value was not valid and kept their defaults); empty when all was read.
Synchronisation load(const std::string& path, std::string& problem);

// Replaces `path` with `settings`, never through a link and never leaving
// half a file. False with `problem` set when it failed.
bool save(const std::string& path, const Synchronisation& settings, std::string& problem);

} // namespace SynchronisationFile

#endif
