#include "synchronisation_file.h"

#include "patient_files.h"

#include <vector>

Synchronisation SynchronisationFile::load(const std::string& path, std::string& problem)
{
    std::string text;
    if (!OwnFile::readHead(path, MAX_BYTES, text, problem)) {
        if (!problem.empty())
            problem = "The synchronisation file " + path + " could not be read (" + problem +
                      "), so every send starts on click.";
        return {};
    }
    std::vector<std::string> bad;
    const Synchronisation settings = Synchronisation::fromText(text, bad);
    if (!bad.empty()) {
        problem = "The synchronisation file " + path +
                  " has values that could not be used, so their defaults hold:";
        for (const std::string& line : bad)
            problem += "\n" + line;
    }
    return settings;
}

bool SynchronisationFile::save(const std::string& path, const Synchronisation& settings,
                               std::string& problem)
{
    return OwnFile::replace(path, settings.toText(), problem);
}
