#include "ScratchDir.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

TScratchDir::TScratchDir() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error)
        return;
    std::random_device seed;
    std::mt19937 random(seed());
    // A name somebody else holds already is passed over, never shared.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("korvex-test-" + std::to_string(random()));
        if (fs::create_directory(candidate, error)) {
            FPath = candidate.string();
            return;
        }
    }
}

TScratchDir::~TScratchDir() {
    if (IsValid()) {
        std::error_code error;
        fs::remove_all(FPath, error);
    }
}
