#ifndef SRF_TOOL_OUTPUTFILE_H
#define SRF_TOOL_OUTPUTFILE_H

#include <functional>
#include <string>
#include <vector>

// Writing an output file so that a failure never leaves half a file and
// never destroys a good one: the content goes to a temporary file beside
// the target (same folder, so same filesystem), which is flushed to disk
// and renamed over the target only once it is complete. On any failure the
// temporary is removed and the target is left as it was.
class SrfOutputFile
{
public:
    // Calls writer(temporary) to write the whole file under the temporary
    // name, then renames it into place. A target that exists and is not a
    // regular file (a device, a pipe) is written directly: it cannot be
    // replaced. Raises an SrfError naming `path` (never the temporary) when
    // writer throws or the file cannot be made or renamed.
    static void write(const std::string &path, const std::function<void(const std::string &temporary)> &writer);

    // Fails now, with the system's reason, when the output could not be
    // written later: a missing folder, one without write permission, a
    // read-only target. Leaves nothing behind.
    static void checkWritable(const std::string &path);

    // The lower-case extension of the file name, without the dot ("" for
    // none): "exr" for "out/Render.EXR".
    static std::string extension(const std::string &path);

    // Raises an SrfError (usage status 2) unless the extension of `path` is
    // one of `known`, naming the option, the file and what can be written.
    static void checkExtension(const std::string &option, const std::string &path,
                               const std::vector<std::string> &known);
};

#endif
