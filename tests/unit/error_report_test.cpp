#include "error_report.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using front::ErrorCode;

namespace {

std::string raised(void (*raise)()) {
    try {
        raise();
    } catch (const front::ModuleError&) {
        return front::errorText();
    }
    ADD_FAILURE() << "raiseError returned";
    return {};
}

}  // namespace

TEST(ErrorReport, TemplatesAreFilledInArgumentOrder) {
    EXPECT_EQ(raised([] { front::raiseError(ErrorCode::rowCount, "pts", 3, 2); }),
              "Argument pts must have 3 rows (not 2)");
    EXPECT_EQ(raised([] { front::raiseError(ErrorCode::notCommandString, 0, "cmd"); }),
              "Argument 0 (cmd) must be non-empty row character string.");
    EXPECT_EQ(raised([] { front::raiseError(ErrorCode::wrongClass, "K", "DOUBLE"); }),
              "Argument K must be of DOUBLE class");
    EXPECT_EQ(raised([] { front::raiseError(ErrorCode::initOutputs); }),
              "Exactly one output required during 'init'.");
}

TEST(ErrorReport, RaisedErrorCarriesItsCodeAndIdentifier) {
    try {
        front::raiseError(ErrorCode::badHandle, 4);
        FAIL() << "raiseError returned";
    } catch (const front::ModuleError& e) {
        EXPECT_EQ(e.code, ErrorCode::badHandle);
        EXPECT_STREQ(front::errorIdentifier("tessary"), "tessary:badHandle");
        EXPECT_STREQ(front::errorText(), "Handle argument must be vector of 4 uint8 elements.");
    }
}

TEST(ErrorReport, LongMessagesAreCutAfter512Characters) {
    const std::string exact(512, 'a');
    front::formatError(ErrorCode::exception, exact.c_str());
    EXPECT_EQ(std::string(front::errorText()), exact);

    const std::string longer = std::string(600, 'b') + "tail";
    front::formatError(ErrorCode::wrongCommand, longer.c_str());
    const std::string text = front::errorText();
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text, ("Wrong command '" + longer).substr(0, 512));
}

TEST(ErrorReport, ExceptionTextIsNotInterpretedAsFormat) {
    front::formatError(ErrorCode::exception, "100% of %s and %i");
    EXPECT_STREQ(front::errorText(), "100% of %s and %i");
    EXPECT_STREQ(front::errorIdentifier("corvane"), "corvane:exception");
}

TEST(ErrorReport, EveryCodeHasADistinctIdentifierExceptTheSharedOnes) {
    for (int a = 0; a < static_cast<int>(ErrorCode::count); ++a) {
        const auto& message = front::errorMessage(static_cast<ErrorCode>(a));
        ASSERT_NE(message.text, nullptr);
        EXPECT_LT(std::strlen(message.text), front::errorBufferSize);
        for (int b = a + 1; b < static_cast<int>(ErrorCode::count); ++b)
            EXPECT_STRNE(message.id, front::errorMessage(static_cast<ErrorCode>(b)).id);
    }
}

TEST(ErrorReport, HostPrefixOfACaughtExceptionIsDropped) {
    front::formatException(ErrorCode::exception, "tessary: failed to allocate 8 bytes", "tessary");
    EXPECT_STREQ(front::errorText(), "failed to allocate 8 bytes");
    front::formatException(ErrorCode::outOfMemory, "tessary:x", "tessary");
    EXPECT_STREQ(front::errorText(), "Out of memory (tessary:x).");
    front::formatException(ErrorCode::exception, "corvane: other module", "tessary");
    EXPECT_STREQ(front::errorText(), "corvane: other module");
}
