#include "core/Control.h"

#include "core/Source.h"

void Control::tasks() { Source::pollAll(); }

Source* Control::getSource(const std::string& name) { return Source::find(name); }

void Control::dispatch(Source& source, const ControlMessage& message) { Source::dispatch(source, message); }
