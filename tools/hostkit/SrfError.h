#ifndef SRF_HOSTKIT_ERROR_H
#define SRF_HOSTKIT_ERROR_H

#include <stdexcept>
#include <string>

// A failure a host reports to the user as one line: the tool on the
// standard error stream before exiting with a non-zero status, the Python
// module as srf.Error. A bad option, a missing or malformed file, an output
// that cannot be written.
class SrfError : public std::runtime_error
{
public:
    explicit SrfError(const std::string &message, int status = 1);

    // The exit status: 2 for wrong usage, 1 for everything else.
    int status() const { return myStatus; }

private:
    int myStatus;
};

#endif
