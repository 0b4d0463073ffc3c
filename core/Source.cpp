#include "Source.h"

#include "Control.h"

Source::Source(const char* name, const char* description, Kind kind)
    : name(name ? name : ""), description(description ? description : ""), kind(kind) {
    Control::addSource(this);
}

Source::~Source() { Control::removeSource(this); }

void Source::send(const ControlMessage& message) { Control::dispatch(*this, message); }
