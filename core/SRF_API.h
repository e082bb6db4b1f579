#ifndef SRF_API_H
#define SRF_API_H

// Marks every class and function that libSRF exports; the library is built
// with hidden visibility, so nothing else is seen by a host.
#define SRF_API __attribute__((visibility("default")))

#endif
