#ifndef KAL_API_H
#define KAL_API_H

// Marks the classes and functions that the runtime exports; everything else
// in the shared library stays hidden.
#define KAL_API __attribute__((visibility("default")))

// Room in every pooled block and the most lanes one lane array may hold.
#define KAL_MAX_LANES 256

#endif
