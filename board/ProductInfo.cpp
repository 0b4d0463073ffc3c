#include "board/ProductInfo.h"

#include "core/NodeItem.h"
#include "core/System.h"
#include "board/Update.h"

namespace {
void setItem(Node* root, const char* path, const char* value) {
    if (auto* item = dynamic_cast<NodeItem*>(root->pathToNode(path))) item->setValue(value);
}
}

void ProductInfo::setInfoData() {
    Node* root = System::rootNode();
    if (!root) return;
    setItem(root, "root\\sys\\_name", kName);
    setItem(root, "root\\sys\\_author", kAuthor);
    setItem(root, "root\\sys\\_ver", Update::isRecovery() ? kRecoveryVersion : kVersion);
    setItem(root, "root\\sys\\_logo", kLogoAddress);
}
