// The secondary model library inside the pedal program: the program is one file with no shared object of it,
// and the object the library is linked from keeps its asserting Eigen code to itself. This file is the
// "rest of the program": its Eigen code is compiled without assertions and out of line, so an instance merged
// with the library's would show up here either as an assertion in this code or as none in the library.
#ifndef NDEBUG
#define NDEBUG
#endif
#ifndef EIGEN_NO_DEBUG
#define EIGEN_NO_DEBUG
#endif

#include "nnet/Conv1x1.h"
#include "nnet/activations/Activation.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return output;
    std::array<char, 4096> chunk;
    size_t count;
    while ((count = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), count);
    pclose(pipe);
    return output;
}

struct Symbol {
    std::string binding;
    std::string visibility;
    std::string section;
    std::string name;
};

// The symbol table as readelf lists it: Num: Value Size Type Bind Vis Ndx Name.
std::vector<Symbol> symbols(const std::string& file) {
    std::vector<Symbol> table;
    std::istringstream lines(commandOutput(std::string(READELF) + " -sW " + file));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string number, value, size, type;
        Symbol symbol;
        fields >> number >> value >> size >> type >> symbol.binding >> symbol.visibility >> symbol.section >>
            symbol.name;
        if (number.size() < 2 || number.back() != ':' || !std::isdigit(static_cast<unsigned char>(number[0])) ||
            symbol.name.empty())
            continue;
        table.push_back(symbol);
    }
    return table;
}

bool isEigen(const std::string& name) {
    for (const char* prefix : {"_ZN5Eigen", "_ZNK5Eigen", "_ZZN5Eigen", "_ZGVZN5Eigen"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

// The program is one file with the library inside, and the README's device section names every shared library
// it loads (the sanitizers' run times of a test build aside), so an image update never meets a library the
// device lacks.
TEST(PedalNnet, PedalIsOneFileWithTheLibraryInsideAndLoadsOnlyListedLibraries) {
    std::ifstream file(PEDAL_README);
    const std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t begin = readme.find("## On the device");
    ASSERT_NE(begin, std::string::npos) << "no device section in " << PEDAL_README;
    const std::string section = readme.substr(begin, readme.find("\n## ", begin) - begin);
    const std::string dynamic = commandOutput(std::string(READELF) + " -dW " + PEDAL_BINARY);
    std::istringstream lines(dynamic);
    std::string line;
    int needed = 0;
    while (std::getline(lines, line)) {
        const size_t open = line.find("(NEEDED)") == std::string::npos ? std::string::npos : line.find('[');
        if (open == std::string::npos) continue;
        const std::string library = line.substr(open + 1, line.find(']', open) - open - 1);
        if (library.rfind("libasan", 0) == 0 || library.rfind("libubsan", 0) == 0) continue;
        ++needed;
        EXPECT_NE(section.find("`" + library + "`"), std::string::npos) << library << " is not listed";
    }
    EXPECT_GT(needed, 5);
    EXPECT_EQ(dynamic.find("libnnet"), std::string::npos) << dynamic;

    bool registryDefined = false;
    for (const Symbol& symbol : symbols(PEDAL_BINARY))
        if (symbol.name.rfind("_ZN4nnet11activations10Activation12_activations", 0) == 0 && symbol.section != "UND")
            registryDefined = true;
    EXPECT_TRUE(registryDefined) << "the activation registry is not part of the program";
}

TEST(PedalNnet, ObjectExposesOnlyTheApi) {
    const std::string groups = commandOutput(std::string(READELF) + " -gW " + NNET_OBJECT);
    // A group is dropped by signature name alone, local or not, so one left here could lose the library's
    // own Eigen instances to the program's.
    EXPECT_NE(groups.find("There are no section groups"), std::string::npos) << groups.substr(0, 2000);

    const std::vector<Symbol> table = symbols(NNET_OBJECT);
    ASSERT_FALSE(table.empty());
    for (const Symbol& symbol : table) {
        if (symbol.binding == "LOCAL") continue;
        if (symbol.section == "UND") {
            EXPECT_FALSE(isEigen(symbol.name)) << symbol.name << " would bind to the program's Eigen code";
            continue;
        }
        EXPECT_EQ(symbol.visibility, "DEFAULT") << symbol.name << " is hidden but still " << symbol.binding;
        EXPECT_FALSE(isEigen(symbol.name)) << symbol.name << " can merge with the program's Eigen code";
    }
}

TEST(PedalNnet, RegistryIsSetUpByTheObjectsInitialisers) {
    for (const char* name : {"Tanh", "Hardtanh", "Fasttanh", "ReLU", "LeakyReLU", "Sigmoid"})
        EXPECT_NE(nnet::activations::Activation::get_activation(name), nullptr) << name;
}

TEST(PedalNnetDeathTest, AssertionsStayInsideTheLibrary) {
    const Eigen::MatrixXf input = Eigen::MatrixXf::Zero(3, 4);

    // The same product expressions the convolution builds and evaluates, with the same mismatch; here they
    // are only built, never evaluated.
    const Eigen::MatrixXf weight = Eigen::MatrixXf::Zero(2, 2);
    const auto product = weight * input;
    const auto lazyProduct = weight.lazyProduct(input);
    EXPECT_EQ(product.rows(), 2);
    EXPECT_EQ(lazyProduct.cols(), 4);

    nnet::Conv1x1 conv(2, 2, false);
    EXPECT_DEATH(conv.process(input), "invalid matrix product");
}

} // namespace
