#ifndef SRF_TOOL_COMMANDS_H
#define SRF_TOOL_COMMANDS_H

// The subcommands of srf. Each takes the arguments that follow its name,
// prints its results on standard output and returns the exit status; a
// failure is raised as an SrfError, which main turns into one line on
// standard error.
class SrfCommands
{
public:
    static int render(int argc, char **argv);
    static int plot(int argc, char **argv);
    static int fit(int argc, char **argv);
    static int info(int argc, char **argv);

    // The bundled example that `srf render` shows without arguments.
    static const char *defaultShader();
};

#endif
