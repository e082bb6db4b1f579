#ifndef SRF_MEASUREMENTFILE_H
#define SRF_MEASUREMENTFILE_H

#include "SRF_API.h"

#include "BX_IFStream.h"
#include "BX_Vector3.h"
#include "BX_WorkBuffer.h"

#include <string>
#include <vector>

// SRF_MeasurementFile: the text layout of a reflectance measurement file,
// read as a header and then data rows, one row at a time.
//
// The header is a run of lines whose first token is a keyword: NUM_POINTS
// gives the number of rows, VARS names the columns, and sixteen other
// keywords (LAB_NAME, SAMPLE_NAME, ...) are recognised and skipped. Blank
// lines are skipped until both NUM_POINTS and VARS have been seen; after
// that a blank line closes the header, and so does any line that starts
// with another word. The closing line is consumed and is not a row.
//
// This class only splits the file: it keeps every VARS name, recognised or
// not, and hands each row over as numbers. What a column means is left to
// the caller: the fitted models' reader (SRF_MeasuredData) lets only the
// eight angle and colour names take a place in a row, and a reader that
// knows wavelength columns can give those a place too.
class SRF_API SRF_MeasurementFile
{
public:
    // Column codes of the recognised names.
    enum Column
    {
        THETA_I = 0, // polar angle of the incoming direction
        PHI_I = 1,   // its azimuth
        THETA_S = 2, // polar angle of the scattered direction
        PHI_S = 3,   // its azimuth
        R = 4,       // colour components
        G = 5,
        B = 6,
        I = 7 // a grey value: all three components
    };

    // Opens the file and reads its header. A file that cannot be opened
    // reads as an empty one (no point count, no names, no rows).
    explicit SRF_MeasurementFile(const char *fileName);
    ~SRF_MeasurementFile();
    SRF_MeasurementFile(const SRF_MeasurementFile &) = delete;
    SRF_MeasurementFile &operator=(const SRF_MeasurementFile &) = delete;

    bool isOpen() const { return myStream.isOpen(); }
    // The NUM_POINTS value (the last one given; 0 without, or when it is
    // not positive).
    int pointCount() const { return myPointCount; }
    // Every VARS name in order, recognised or not.
    int nameCount() const { return int(myNames.size()); }
    const char *name(int i) const { return myNames[i].c_str(); }
    // The rest of the SAMPLE_NAME line, blanks trimmed ("" without).
    const std::string &sampleName() const { return mySampleName; }

    // True when no byte of the file is left.
    bool atEnd() { return myStream.isEof(); }
    // Reads the next line and stores its first values (at most capacity of
    // them, separated by commas, blanks or both) in values, each read as
    // atof reads a decimal number (0 when nothing numeric leads a token).
    // Returns how many were stored; tokens past the capacity are not read.
    int readRow(double *values, int capacity);

    // The code of a recognised column name (compared exactly, case
    // included), or -1.
    static int columnCode(const char *name);
    // The wavelength in nanometres of a name such as "550nm", or 0 for any
    // other name.
    static double wavelength(const char *name);
    // (r, theta, phi) held in (x, y, z) -> the unit direction along
    // (sin theta sin phi, sin theta cos phi, cos theta): the polar angle from
    // +z, the azimuth from +y towards +x.
    static void sphericalToDirection(BX_Vector3 &v);

private:
    void readHeader();

    BX_IFStream myStream;
    BX_WorkBuffer myLine, myToken;
    int myPointCount;
    std::vector<std::string> myNames;
    std::string mySampleName;
};

#endif
