// srf: the host tool of the BSDF library. It installs the BSDF ops into a
// shading-language context, runs text shaders over lane arrays and queries
// the BSDFs they build, as a renderer does, to show what a BSDF does.
#include "SrfCommands.h"
#include "SrfError.h"

#include "KAL_Shader.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace
{
struct Command
{
    const char *name;
    int (*run)(int, char **);
    const char *summary;
};
const Command COMMANDS[] = {
    {"render", SrfCommands::render, "render SHADER.kal on a sphere in a soft studio to a PNG"},
    {"plot", SrfCommands::plot, "plot the BSDF's value and sampled directions for one incident direction"},
    {"fit", SrfCommands::fit, "fit a reflectance model to a measurement file"},
    {"info", SrfCommands::info, "print the compiled shader and the BSDF tree it builds"},
};

void usage(FILE *out)
{
    fprintf(out, "usage: srf COMMAND [options]\n\ncommands:\n");
    for (const Command &command : COMMANDS)
        fprintf(out, "  %-8s %s\n", command.name, command.summary);
    fprintf(out, "\n'srf COMMAND --help' tells more. 'srf render' without a shader renders the bundled\n"
                 "plastic example to srf-render.png. Without a command, srf prints this text and exits\n"
                 "with status 2.\n");
}

// One line for the user: a message may quote a file's bytes or name, which
// go to the terminal escaped unless they are printable UTF-8 text.
void report(const char *command, const char *message)
{
    fprintf(stderr, "srf %s: %s\n", command, KAL_Shader::printable(message).c_str());
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
    {
        usage(stderr);
        return 2;
    }
    const char *name = argv[1];
    if (!strcmp(name, "--help") || !strcmp(name, "-h") || !strcmp(name, "help"))
    {
        usage(stdout);
        return 0;
    }
    for (const Command &command : COMMANDS)
    {
        if (strcmp(name, command.name) != 0)
            continue;
        try
        {
            return command.run(argc - 2, argv + 2);
        }
        catch (const SrfError &error)
        {
            report(name, error.what());
            return error.status();
        }
        catch (const std::bad_alloc &)
        {
            fprintf(stderr, "srf %s: out of memory\n", name);
            return 1;
        }
        catch (const std::exception &error)
        {
            report(name, error.what());
            return 1;
        }
    }
    fprintf(stderr, "srf: unknown command '%s' (see 'srf --help')\n", KAL_Shader::printable(name).c_str());
    return 2;
}
