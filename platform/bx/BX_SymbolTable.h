#ifndef BX_SYMBOLTABLE_H
#define BX_SYMBOLTABLE_H

#include "BX_Thing.h"

#include <functional>

// Maps names to things. Names are copied; the things are not owned. The
// table does no locking of its own: callers that share it serialise access.
class BX_SymbolTable
{
public:
    BX_SymbolTable();
    ~BX_SymbolTable();
    BX_SymbolTable(const BX_SymbolTable &) = delete;
    BX_SymbolTable &operator=(const BX_SymbolTable &) = delete;

    // Enters (or replaces) the thing under `name`. Returns 0 when no memory
    // could be had, in which case the table is unchanged.
    int addSymbol(const char *name, const BX_Thing &thing);
    // Non-zero when `name` is present; its thing is then stored in *thing
    // (when thing is not null).
    int findSymbol(const char *name, BX_Thing *thing) const;

    int entries() const;
    // Calls visit for every entry, in no particular order.
    void traverse(const std::function<void(const char *, const BX_Thing &)> &visit) const;

private:
    struct Table;
    Table *myTable;
};

#endif
