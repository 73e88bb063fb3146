#include "QtPrinters.h"
#include "TransportError.h"
#include "ZedazidEdize.h"

#include <gtest/gtest.h>

// The controller tells a finished sentence, an empty recording and a failed
// connection apart, and shows a sentence only where the error has one.
TEST(DictationErrors, KeepTheirKindAndDescription) {
    EXPECT_EQ(ZedazidEdize::emptyAudio().kind(), ZedazidEdize::Kind::emptyAudio);
    EXPECT_EQ(ZedazidEdize::emptyAudio().errorDescription(),
              QStringLiteral("That recording was too short. Try again."));
    for (const QString& text : {QString(), QStringLiteral("  Two sentences.  Spaces kept. \n")}) {
        EXPECT_EQ(ZedazidEdize::message(text).kind(), ZedazidEdize::Kind::message);
        EXPECT_EQ(ZedazidEdize::message(text).errorDescription(), std::optional<QString>(text));
    }
    const TransportError refused(QNetworkReply::ConnectionRefusedError, QStringLiteral("refused"));
    EXPECT_EQ(refused.code(), QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(refused.errorDescription(), QStringLiteral("refused"));
}
