#include "SrfOutputFile.h"

#include "SrfError.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A writer's message names the file it was given; the user knows only the
// target.
std::string renamed(std::string message, const std::string &from, const std::string &to)
{
    for (size_t at = message.find(from); at != std::string::npos; at = message.find(from, at + to.size()))
        message.replace(at, from.size(), to);
    return message;
}

bool isOtherThanRegular(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

// A new empty file beside `path`, named ".NAME.XXXXXX", with the permissions
// a newly created file gets (mkstemp's are owner-only).
std::string makeTemporary(const std::string &path)
{
    std::string name = folderOf(path) + "/." + nameOf(path) + ".XXXXXX";
    const int descriptor = mkstemp(&name[0]);
    if (descriptor < 0)
        throw SrfError("cannot write '" + path + "': " + strerror(errno));
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    return name;
}

// Flushes the file's data to the disk, so that the rename never exposes a
// file whose blocks were not yet written.
bool syncToDisk(const std::string &path)
{
    const int descriptor = open(path.c_str(), O_RDONLY);
    if (descriptor < 0)
        return false;
    const bool synced = fsync(descriptor) == 0;
    close(descriptor);
    return synced;
}
} // namespace

void SrfOutputFile::write(const std::string &path, const std::function<void(const std::string &)> &writer)
{
    if (isOtherThanRegular(path))
    {
        try
        {
            writer(path);
        }
        catch (const SrfError &)
        {
            throw;
        }
        catch (const std::exception &error)
        {
            throw SrfError(error.what());
        }
        return;
    }
    const std::string temporary = makeTemporary(path);
    try
    {
        writer(temporary);
        if (!syncToDisk(temporary) || rename(temporary.c_str(), path.c_str()) != 0)
            throw SrfError("cannot write '" + path + "': " + strerror(errno));
    }
    catch (const std::exception &error)
    {
        remove(temporary.c_str());
        throw SrfError(renamed(error.what(), temporary, path));
    }
}

void SrfOutputFile::checkWritable(const std::string &path)
{
    if (access(path.c_str(), F_OK) == 0)
    {
        if (access(path.c_str(), W_OK) != 0)
            throw SrfError("cannot write '" + path + "': " + strerror(errno));
        if (isOtherThanRegular(path))
            return;
    }
    remove(makeTemporary(path).c_str());
}

std::string SrfOutputFile::extension(const std::string &path)
{
    const std::string name = nameOf(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return "";
    std::string result = name.substr(dot + 1);
    for (char &c : result)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

void SrfOutputFile::checkExtension(const std::string &option, const std::string &path,
                                   const std::vector<std::string> &known)
{
    const std::string given = extension(path);
    std::string names;
    for (const std::string &name : known)
    {
        if (given == name)
            return;
        names += (names.empty() ? "." : " or .") + name;
    }
    throw SrfError(option + " '" + path + "': cannot write " +
                       (given.empty() ? "a file without an extension" : "." + given + " files") + "; give a " + names +
                       " file name",
                   2);
}
