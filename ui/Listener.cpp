#include "ui/Listener.h"

#include <algorithm>

Listener::Stack& Listener::stack() {
    static Stack* const instance = new Stack;
    return *instance;
}

bool Listener::onStack(const Listener* page) {
    const auto& pages = stack().pages;
    return std::find(pages.begin(), pages.end(), page) != pages.end();
}

void Listener::unlink(const Listener* page) {
    auto& pages = stack().pages;
    pages.erase(std::remove(pages.begin(), pages.end(), page), pages.end());
    auto& permanent = stack().permanent;
    permanent.erase(std::remove(permanent.begin(), permanent.end(), page), permanent.end());
}

Listener::Listener() {
    if (!onStack(this)) stack().pages.push_back(this);
}

Listener::~Listener() { unlink(this); }

void Listener::onBroadcast(int) {}
