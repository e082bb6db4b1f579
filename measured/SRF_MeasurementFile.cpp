#include "SRF_MeasurementFile.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{
// Separators of a header line's first token, and of column names and row
// values. A carriage return separates like a blank, so files written with
// Windows line endings read the same.
const char *const KEYWORD_SEPARATORS = " \t\n\r";
const char *const VALUE_SEPARATORS = ", \t\n\r";
const char *const LINE_END = "\r\n";
const char *const BLANKS = " \t";

enum KeywordKind
{
    KEYWORD_NONE,
    KEYWORD_NUM_POINTS,
    KEYWORD_VARS,
    KEYWORD_SAMPLE_NAME,
    KEYWORD_IGNORED
};

struct Keyword
{
    const char *name;
    KeywordKind kind;
};

// Header keywords: a line starting with any other token ends the header.
const Keyword KEYWORDS[] = {
    {"NUM_POINTS", KEYWORD_NUM_POINTS}, {"VARS", KEYWORD_VARS},
    {"APERTURE", KEYWORD_IGNORED},      {"FILE_NAME", KEYWORD_IGNORED},
    {"LAB_NAME", KEYWORD_IGNORED},      {"LAB_ADD", KEYWORD_IGNORED},
    {"LAB_CITY", KEYWORD_IGNORED},      {"LAB_STATE", KEYWORD_IGNORED},
    {"LAB_ZIP", KEYWORD_IGNORED},       {"LAB_PHONE", KEYWORD_IGNORED},
    {"LAB_OPERATOR", KEYWORD_IGNORED},  {"LAB_COMMENTS", KEYWORD_IGNORED},
    {"MEAS_NAME", KEYWORD_IGNORED},     {"MEAS_DATE", KEYWORD_IGNORED},
    {"MEAS_TIME", KEYWORD_IGNORED},     {"SAMPLE_NAME", KEYWORD_SAMPLE_NAME},
    {"SAMPLE_TYPE", KEYWORD_IGNORED},   {"SYSTEM_NAME", KEYWORD_IGNORED},
};

struct ColumnName
{
    const char *name;
    SRF_MeasurementFile::Column code;
};

const ColumnName COLUMNS[] = {
    {"theta_i", SRF_MeasurementFile::THETA_I},
    {"phi_i", SRF_MeasurementFile::PHI_I},
    {"theta_s", SRF_MeasurementFile::THETA_S},
    {"phi_s", SRF_MeasurementFile::PHI_S},
    {"R", SRF_MeasurementFile::R},
    {"G", SRF_MeasurementFile::G},
    {"B", SRF_MeasurementFile::B},
    {"I", SRF_MeasurementFile::I},
};

const char *const WAVELENGTH_UNIT = "nm";

KeywordKind findKeyword(const char *token)
{
    for (const Keyword &keyword : KEYWORDS)
        if (std::strcmp(token, keyword.name) == 0)
            return keyword.kind;
    return KEYWORD_NONE;
}

// The decimal integer leading the token, as atoi reads it, clamped to the
// range of int; negative counts read as 0.
int readCount(const char *token)
{
    const long value = std::strtol(token, nullptr, 10);
    if (value <= 0)
        return 0;
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// The token's leading decimal number, exactly as atof reads it (0 when
// nothing numeric leads). The common forms are parsed without the locale
// machinery of atof; anything else (a leading '+', a hexadecimal number, an
// exponent out of range, no number) goes to atof itself.
double readValue(const BX_WorkBuffer &token)
{
    const char *begin = token.buffer();
    const char *end = begin + token.length();
    double value = 0.0;
    const std::from_chars_result parsed = std::from_chars(begin, end, value);
    if (parsed.ec == std::errc() && (parsed.ptr == end || (*parsed.ptr != 'x' && *parsed.ptr != 'X')))
        return value;
    return std::atof(begin);
}

std::string trimmed(const char *text)
{
    const char *begin = text + std::strspn(text, BLANKS);
    const char *end = begin + std::strlen(begin);
    while (end > begin && std::strchr(BLANKS, end[-1]))
        --end;
    return std::string(begin, end);
}
} // namespace

SRF_MeasurementFile::SRF_MeasurementFile(const char *fileName) : myPointCount(0)
{
    myStream.open(fileName ? fileName : "", 0); // a failed open reads as an empty file
    readHeader();
}

SRF_MeasurementFile::~SRF_MeasurementFile() { myStream.close(); }

void SRF_MeasurementFile::readHeader()
{
    bool seenCount = false, seenColumns = false;
    while (!myStream.isEof())
    {
        myStream.getLine(myLine, '\n');
        if (!myLine.getNextToken(myToken, KEYWORD_SEPARATORS))
        {
            if (seenCount && seenColumns)
                break;
            continue;
        }
        const KeywordKind kind = findKeyword(myToken.buffer());
        if (kind == KEYWORD_NONE)
            break;
        if (kind == KEYWORD_VARS)
        {
            seenColumns = true;
            while (myLine.getNextToken(myToken, VALUE_SEPARATORS))
                myNames.emplace_back(myToken.buffer());
        }
        else if (kind == KEYWORD_NUM_POINTS)
        {
            seenCount = true;
            myLine.getNextToken(myToken, KEYWORD_SEPARATORS);
            myPointCount = readCount(myToken.buffer());
        }
        else if (kind == KEYWORD_SAMPLE_NAME)
        {
            myLine.getNextToken(myToken, LINE_END);
            mySampleName = trimmed(myToken.buffer());
        }
    }
}

int SRF_MeasurementFile::readRow(double *values, int capacity)
{
    myStream.getLine(myLine, '\n');
    int count = 0;
    while (count < capacity && myLine.getNextToken(myToken, VALUE_SEPARATORS))
        values[count++] = readValue(myToken);
    return count;
}

int SRF_MeasurementFile::columnCode(const char *name)
{
    for (const ColumnName &column : COLUMNS)
        if (std::strcmp(name, column.name) == 0)
            return column.code;
    return -1;
}

double SRF_MeasurementFile::wavelength(const char *name)
{
    char *end = nullptr;
    const double value = std::strtod(name, &end);
    if (end == name || std::strcmp(end, WAVELENGTH_UNIT) != 0 || !(value > 0.0) || !std::isfinite(value))
        return 0.0;
    return value;
}

void SRF_MeasurementFile::sphericalToDirection(BX_Vector3 &v)
{
    const float r = v.x;
    const float sinTheta = std::sin(v.y);
    const float cosTheta = std::cos(v.y);
    v = BX_Vector3(r * sinTheta * std::sin(v.z), r * sinTheta * std::cos(v.z), r * cosTheta);
    v.normalize();
}
