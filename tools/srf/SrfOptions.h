#ifndef SRF_TOOL_OPTIONS_H
#define SRF_TOOL_OPTIONS_H

#include <map>
#include <string>
#include <vector>

// The command line of one subcommand: its options (each with a value, or a
// flag), its positional arguments and its --help text. Every mistake raises
// an SrfError with usage status 2 and a one-line message naming the command
// and the offending word.
class SrfOptions
{
public:
    struct Option
    {
        const char *name;      // "--size"
        const char *alias;     // "-o", or null
        const char *valueName; // "N"; null for a flag
        const char *help;      // one line
        const char *value;     // default value, or null for none
    };

    // command: "render"; operands: the positional part of the usage line
    // ("[SHADER.kal]"); summary: what the command does, one paragraph.
    SrfOptions(const char *command, const char *operands, const char *summary, std::vector<Option> options,
               int minPositional, int maxPositional);

    // Reads the arguments that follow the subcommand name.
    void parse(int argc, char **argv);

    bool helpRequested() const { return myHelp; }
    std::string help() const;

    const std::vector<std::string> &positional() const { return myPositional; }
    // Whether the option was given on the command line.
    bool given(const char *name) const;
    // The option's value: the one given, else its default ("" for none).
    std::string text(const char *name) const;
    // The value as an integer in [low, high], else an SrfError.
    int integer(const char *name, int low, int high) const;
    // The value as a finite number in [low, high], else an SrfError.
    double number(const char *name, double low, double high) const;

    const std::string &command() const { return myCommand; }

private:
    const Option *find(const std::string &word) const;
    [[noreturn]] void fail(const std::string &message) const;

    std::string myCommand, myOperands, mySummary;
    std::vector<Option> myOptions;
    int myMinPositional, myMaxPositional;
    bool myHelp = false;
    std::vector<std::string> myPositional;
    std::map<std::string, std::string> myValues;
};

#endif
