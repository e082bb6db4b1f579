#include "SrfOptions.h"

#include "SrfError.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

SrfOptions::SrfOptions(const char *command, const char *operands, const char *summary, std::vector<Option> options,
                       int minPositional, int maxPositional)
    : myCommand(command), myOperands(operands), mySummary(summary), myOptions(std::move(options)),
      myMinPositional(minPositional), myMaxPositional(maxPositional)
{
}

const SrfOptions::Option *SrfOptions::find(const std::string &word) const
{
    for (const Option &option : myOptions)
        if (word == option.name || (option.alias && word == option.alias))
            return &option;
    return nullptr;
}

void SrfOptions::fail(const std::string &message) const
{
    throw SrfError(message + " (see 'srf " + myCommand + " --help')", 2);
}

void SrfOptions::parse(int argc, char **argv)
{
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i)
    {
        std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-')
        {
            myPositional.push_back(word);
            continue;
        }
        if (word == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h")
        {
            myHelp = true;
            continue;
        }
        // --name=value is accepted as well as --name value.
        std::string value;
        bool inlineValue = false;
        const size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos)
        {
            value = word.substr(equals + 1);
            word = word.substr(0, equals);
            inlineValue = true;
        }
        const Option *option = find(word);
        if (!option)
            fail("unknown option '" + word + "'");
        if (!option->valueName)
        {
            if (inlineValue)
                fail("option '" + word + "' takes no value");
            myValues[option->name] = "1";
            continue;
        }
        if (!inlineValue)
        {
            if (i + 1 >= argc)
                fail("option '" + word + "' needs a value " + option->valueName);
            value = argv[++i];
        }
        myValues[option->name] = value;
    }
    if (myHelp)
        return;
    if (int(myPositional.size()) > myMaxPositional)
        fail("unexpected argument '" + myPositional[myMaxPositional] + "'");
    if (int(myPositional.size()) < myMinPositional)
        fail("missing operand " + myOperands);
}

bool SrfOptions::given(const char *name) const { return myValues.count(name) != 0; }

std::string SrfOptions::text(const char *name) const
{
    const auto found = myValues.find(name);
    if (found != myValues.end())
        return found->second;
    const Option *option = find(name);
    return option && option->value ? option->value : "";
}

int SrfOptions::integer(const char *name, int low, int high) const
{
    const std::string value = text(name);
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high)
        fail(std::string(name) + " must be an integer from " + std::to_string(low) + " to " + std::to_string(high) +
             ", not '" + value + "'");
    return int(parsed);
}

double SrfOptions::number(const char *name, double low, double high) const
{
    const std::string value = text(name);
    char *end = nullptr;
    const double parsed = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high)
    {
        std::ostringstream range;
        range << low << " to " << high;
        fail(std::string(name) + " must be a number from " + range.str() + ", not '" + value + "'");
    }
    return parsed;
}

std::string SrfOptions::help() const
{
    std::ostringstream out;
    out << "usage: srf " << myCommand << " " << myOperands << (myOptions.empty() ? "" : " [options]") << "\n\n"
        << mySummary << "\n";
    out << "\noptions:\n";
    std::vector<Option> all = myOptions;
    all.push_back({"--help", "-h", nullptr, "this text", nullptr});
    for (const Option &option : all)
    {
        std::string left = "  ";
        if (option.alias)
            left += std::string(option.alias) + ", ";
        left += option.name;
        if (option.valueName)
            left += std::string(" ") + option.valueName;
        if (left.size() < 24)
            left.resize(24, ' ');
        else
            left += "  ";
        out << left << option.help;
        if (option.value)
            out << " (default " << option.value << ")";
        out << "\n";
    }
    return out.str();
}
