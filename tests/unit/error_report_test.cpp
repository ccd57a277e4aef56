#include "error_report.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using common::ErrorCode;

namespace {

std::string raised(void (*raise)()) {
    try {
        raise();
    } catch (const common::ModuleError&) {
        return common::errorText();
    }
    ADD_FAILURE() << "raiseError returned";
    return {};
}

}  // namespace

TEST(ErrorReport, TemplatesAreFilledInArgumentOrder) {
    EXPECT_EQ(raised([] { common::raiseError(ErrorCode::rowCount, "pts", 3, 2); }),
              "Argument pts must have 3 rows (not 2)");
    EXPECT_EQ(raised([] { common::raiseError(ErrorCode::notCommandString, 0, "cmd"); }),
              "Argument 0 (cmd) must be non-empty row character string.");
    EXPECT_EQ(raised([] { common::raiseError(ErrorCode::wrongClass, "K", "DOUBLE"); }),
              "Argument K must be of DOUBLE class");
    EXPECT_EQ(raised([] { common::raiseError(ErrorCode::initOutputs); }),
              "Exactly one output required during 'init'.");
}

TEST(ErrorReport, RaisedErrorCarriesItsCodeAndIdentifier) {
    try {
        common::raiseError(ErrorCode::badHandle, 4);
        FAIL() << "raiseError returned";
    } catch (const common::ModuleError& e) {
        EXPECT_EQ(e.code, ErrorCode::badHandle);
        EXPECT_STREQ(common::errorIdentifier("tessary"), "tessary:badHandle");
        EXPECT_STREQ(common::errorText(), "Handle argument must be vector of 4 uint8 elements.");
    }
}

TEST(ErrorReport, LongMessagesAreCutAfter512Characters) {
    const std::string exact(512, 'a');
    common::formatError(ErrorCode::exception, exact.c_str());
    EXPECT_EQ(std::string(common::errorText()), exact);

    const std::string longer = std::string(600, 'b') + "tail";
    common::formatError(ErrorCode::wrongCommand, longer.c_str());
    const std::string text = common::errorText();
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text, ("Wrong command '" + longer).substr(0, 512));
}

TEST(ErrorReport, ExceptionTextIsNotInterpretedAsFormat) {
    common::formatError(ErrorCode::exception, "100% of %s and %i");
    EXPECT_STREQ(common::errorText(), "100% of %s and %i");
    EXPECT_STREQ(common::errorIdentifier("corvane"), "corvane:exception");
}

TEST(ErrorReport, EveryCodeHasADistinctIdentifierExceptTheSharedOnes) {
    for (int a = 0; a < static_cast<int>(ErrorCode::count); ++a) {
        const auto& message = common::errorMessage(static_cast<ErrorCode>(a));
        ASSERT_NE(message.text, nullptr);
        EXPECT_LT(std::strlen(message.text), common::errorBufferSize);
        for (int b = a + 1; b < static_cast<int>(ErrorCode::count); ++b)
            EXPECT_STRNE(message.id, common::errorMessage(static_cast<ErrorCode>(b)).id);
    }
}

TEST(ErrorReport, HostPrefixOfACaughtExceptionIsDropped) {
    common::formatException(ErrorCode::exception, "tessary: failed to allocate 8 bytes", "tessary");
    EXPECT_STREQ(common::errorText(), "failed to allocate 8 bytes");
    common::formatException(ErrorCode::outOfMemory, "tessary:x", "tessary");
    EXPECT_STREQ(common::errorText(), "Out of memory (tessary:x).");
    common::formatException(ErrorCode::exception, "corvane: other module", "tessary");
    EXPECT_STREQ(common::errorText(), "corvane: other module");
}
