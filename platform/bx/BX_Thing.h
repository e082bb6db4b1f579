#ifndef BX_THING_H
#define BX_THING_H

// The value a symbol table keeps for a name: one untyped pointer.
class BX_Thing
{
public:
    BX_Thing() : myPointer(nullptr) {}
    explicit BX_Thing(void *pointer) : myPointer(pointer) {}

    void *getPointer() const { return myPointer; }
    void setPointer(void *pointer) { myPointer = pointer; }

private:
    void *myPointer;
};

#endif
