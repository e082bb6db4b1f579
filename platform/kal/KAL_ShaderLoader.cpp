#include "KAL_ShaderLoader.h"

#include "KAL_Shader.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace
{
struct Keyword
{
    const char *word;
    char type;
};
// The declaration keywords and the type letter each declares.
const Keyword theKeywords[] = {{"bsdf", 'B'}, {"float", 'F'}, {"int", 'I'}, {"vector", 'V'}, {"string", 'S'}};

char typeOfKeyword(const std::string &word)
{
    for (const Keyword &k : theKeywords)
        if (word == k.word)
            return k.type;
    return 0;
}

std::string shown(const std::string &s) { return KAL_Shader::quoted(s); }

// Splits one line into tokens: runs of non-blank characters, except that a
// double-quoted text (with \ escapes) and a parenthesised group are one
// token each, blanks included, and "=" is a token of its own. "#" outside a
// string ends the line. Empty message on success.
std::string tokenize(const std::string &line, std::vector<std::string> &tokens)
{
    tokens.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n)
    {
        const unsigned char c = (unsigned char)line[i];
        if (isspace(c))
        {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        if (c == '=')
        {
            tokens.push_back("=");
            ++i;
            continue;
        }
        std::string token;
        while (i < n && !isspace((unsigned char)line[i]) && line[i] != '#' && line[i] != '=')
        {
            if (line[i] == '"')
            {
                const size_t start = i++;
                while (i < n && line[i] != '"')
                    i += line[i] == '\\' ? 2 : 1;
                if (i >= n)
                    return "unterminated string " + shown(line.substr(start));
                token.append(line, start, ++i - start);
            }
            else if (line[i] == '(')
            {
                const size_t start = i;
                const size_t close = line.find(')', i);
                if (close == std::string::npos)
                    return "unclosed parenthesis " + shown(line.substr(start));
                token.append(line, start, close + 1 - start);
                i = close + 1;
            }
            else
                token += line[i++];
        }
        tokens.push_back(token);
    }
    return "";
}

bool isBlankOrComment(const std::vector<std::string> &tokens) { return tokens.empty(); }
} // namespace

bool KAL_ShaderLoader::parseText(const std::string &text, KAL_Shader &shader)
{
    try
    {
        return parseLines(text, shader);
    }
    catch (const std::exception &)
    {
        shader.setError(0, "out of memory while reading the shader");
        return false;
    }
}

bool KAL_ShaderLoader::parseLines(const std::string &text, KAL_Shader &shader)
{
    if (shader.hasError())
        return false;
    std::vector<std::string> tokens;
    int calls = 0;
    int line = 0;
    // A byte-order mark some editors write is not part of the first line.
    const char BOM[] = "\xEF\xBB\xBF";
    size_t pos = text.compare(0, 3, BOM) == 0 ? 3 : 0;
    while (pos < text.size())
    {
        ++line;
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string content = text.substr(pos, end - pos);
        pos = end + 1;
        if (!content.empty() && content.back() == '\r')
            content.pop_back();
        if (content.find('\0') != std::string::npos)
        {
            shader.setError(line, "the line holds a NUL byte: not a text shader");
            return false;
        }
        const std::string message = tokenize(content, tokens);
        if (!message.empty())
        {
            shader.setError(line, message);
            return false;
        }
        if (isBlankOrComment(tokens))
            continue;

        size_t first = 0;
        bool varying = false;
        if (tokens[0] == "varying" || tokens[0] == "uniform")
        {
            varying = tokens[0] == "varying";
            first = 1;
        }
        const char type = first < tokens.size() ? typeOfKeyword(tokens[first]) : 0;
        if (type)
        {
            // A declaration: KEYWORD NAME [= value...]
            if (tokens.size() < first + 2)
            {
                shader.setError(line, "declaration of a " + tokens[first] + " without a name");
                return false;
            }
            const std::string &name = tokens[first + 1];
            bool hasInitial = false;
            std::string initial;
            if (tokens.size() > first + 2)
            {
                if (tokens[first + 2] != "=")
                {
                    shader.setError(line, "declaration of " + shown(name) +
                                              ": expected \"=\" before the value, found " + shown(tokens[first + 2]));
                    return false;
                }
                if (tokens.size() == first + 3)
                {
                    shader.setError(line, "declaration of " + shown(name) + ": no value after \"=\"");
                    return false;
                }
                hasInitial = true;
                for (size_t k = first + 3; k < tokens.size(); ++k)
                    initial += (k > first + 3 ? " " : "") + tokens[k];
            }
            shader.addVariable(name.c_str(), type, varying, hasInitial ? initial.c_str() : nullptr, line);
            continue;
        }
        if (first == 1)
        {
            shader.setError(line, "expected a type (bsdf, float, int, vector, string) after " + shown(tokens[0]));
            return false;
        }
        if (tokens[0].find('@') == std::string::npos)
        {
            shader.setError(line, "expected a declaration or a call (name@LETTERS), found " + shown(tokens[0]));
            return false;
        }
        shader.addCall(tokens[0].c_str(), std::vector<std::string>(tokens.begin() + 1, tokens.end()), line);
        ++calls;
    }
    if (calls == 0)
    {
        shader.setError(line > 0 ? line : 1, text.empty() ? "the shader is empty" : "the shader makes no call");
        return false;
    }
    return !shader.hasError();
}

bool KAL_ShaderLoader::parseFile(const char *path, KAL_Shader &shader)
{
    if (shader.hasError())
        return false;
    FILE *file = path ? fopen(path, "rb") : nullptr;
    if (!file)
    {
        shader.setError(0, std::string("cannot open the file: ") + strerror(path ? errno : EINVAL));
        return false;
    }
    std::string text;
    const char *problem = nullptr;
    try
    {
        char buffer[65536];
        size_t got;
        while (!problem && (got = fread(buffer, 1, sizeof buffer, file)) > 0)
        {
            if (long(text.size() + got) > MAX_FILE_BYTES)
                problem = "the file is larger than the 64 MB a shader may have";
            else
                text.append(buffer, got);
        }
        if (!problem && ferror(file))
            problem = "cannot read the file";
    }
    catch (const std::exception &)
    {
        problem = "out of memory while reading the file";
    }
    fclose(file);
    if (problem)
    {
        shader.setError(0, problem);
        return false;
    }
    return parseText(text, shader);
}

std::unique_ptr<KAL_Shader> KAL_ShaderLoader::load(const KAL_Context &context, const char *path, std::string &error)
{
    std::unique_ptr<KAL_Shader> shader(new (std::nothrow) KAL_Shader(context, path ? path : "<null>"));
    if (!shader)
    {
        error = "out of memory";
        return nullptr;
    }
    if (!parseFile(path, *shader) || !shader->compile())
    {
        error = shader->getError();
        return nullptr;
    }
    error.clear();
    return shader;
}

std::unique_ptr<KAL_Shader> KAL_ShaderLoader::compileText(const KAL_Context &context, const std::string &text,
                                                          const char *sourceName, std::string &error)
{
    std::unique_ptr<KAL_Shader> shader(new (std::nothrow) KAL_Shader(context, sourceName));
    if (!shader)
    {
        error = "out of memory";
        return nullptr;
    }
    if (!parseText(text, *shader) || !shader->compile())
    {
        error = shader->getError();
        return nullptr;
    }
    error.clear();
    return shader;
}
