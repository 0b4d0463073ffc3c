#pragma once
// The product's identity as the system items show it ("_name", "_author", "_ver", "_logo" under "sys").
// Both board applications write it right after their board object exists, replacing the defaults that
// System::initialize gave the items; the recovery application's version reads "Update Mode", so a client
// sees at once that the device waits for an image.
//
// Threads: main thread, at start-up, after System::initialize.
class ProductInfo {
public:
    static constexpr const char* kName = "Corvinhallow PRO";
    static constexpr const char* kAuthor = "TERAVIN Audio Systems";
    static constexpr const char* kVersion = "1.1.6";
    static constexpr const char* kRecoveryVersion = "Update Mode";
    // The maker publishes no logo address for this product; clients show no logo for an empty item.
    static constexpr const char* kLogoAddress = "";

    // Writes the items; an item that does not exist (or is not a string item) is skipped.
    static void setInfoData();
};
