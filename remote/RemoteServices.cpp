#include "remote/RemoteServices.h"

namespace {
RemoteServices::Firmware installedFirmware;
ComInterface* owner = nullptr;
}

void RemoteServices::setFirmware(Firmware firmware) { installedFirmware = std::move(firmware); }
const RemoteServices::Firmware& RemoteServices::firmware() { return installedFirmware; }
ComInterface* RemoteServices::firmwareOwner() { return owner; }
void RemoteServices::setFirmwareOwner(ComInterface* newOwner) { owner = newOwner; }
