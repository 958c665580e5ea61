#include "mapt/Settings.hpp"

namespace shapescale {

KernelChoice kernelChoiceFrom(float value) {
    if (value == 0.0f) return KernelChoice::ballSum;
    if (value == 2.0f) return KernelChoice::ballSumThenGaussian;
    return KernelChoice::rawGaussian;
}

}  // namespace shapescale
