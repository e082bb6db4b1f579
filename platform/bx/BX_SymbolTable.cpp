#include "BX_SymbolTable.h"

#include <new>
#include <string>
#include <unordered_map>

struct BX_SymbolTable::Table
{
    std::unordered_map<std::string, BX_Thing> map;
};

BX_SymbolTable::BX_SymbolTable() : myTable(new (std::nothrow) Table) {}

BX_SymbolTable::~BX_SymbolTable() { delete myTable; }

int BX_SymbolTable::addSymbol(const char *name, const BX_Thing &thing)
{
    if (!myTable || !name)
        return 0;
    try
    {
        myTable->map[name] = thing;
    }
    catch (...)
    {
        return 0;
    }
    return 1;
}

int BX_SymbolTable::findSymbol(const char *name, BX_Thing *thing) const
{
    if (!myTable || !name)
        return 0;
    try
    {
        auto found = myTable->map.find(name);
        if (found == myTable->map.end())
            return 0;
        if (thing)
            *thing = found->second;
    }
    catch (...)
    {
        return 0;
    }
    return 1;
}

int BX_SymbolTable::entries() const { return myTable ? static_cast<int>(myTable->map.size()) : 0; }

void BX_SymbolTable::traverse(const std::function<void(const char *, const BX_Thing &)> &visit) const
{
    if (!myTable)
        return;
    for (const auto &entry : myTable->map)
        visit(entry.first.c_str(), entry.second);
}
