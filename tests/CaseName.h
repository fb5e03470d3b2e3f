// Names each case of a parameterised test after its strName, for
// INSTANTIATE_TEST_SUITE_P.
#pragma once

#include <gtest/gtest.h>
#include <string>

struct SCaseName {
    template <class TCase>
    std::string operator()(const ::testing::TestParamInfo<TCase>& info) const
    {
        return info.param.strName;
    }
};
