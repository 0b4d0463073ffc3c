#include "Listener.h"

#include "EventDispatcher.h"

Listener::Listener() { EventDispatcher::addListener(this); }

Listener::~Listener() { EventDispatcher::unlink(this); }

void Listener::onBroadcast(int) {}
