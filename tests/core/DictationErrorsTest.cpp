#include "LocalizedError.h"
#include "QtPrinters.h"
#include "TransportError.h"
#include "ZedazidEdize.h"

#include <gtest/gtest.h>

TEST(ZedazidEdize, EmptyAudioDescribesItselfAsTooShort) {
    const ZedazidEdize error = ZedazidEdize::emptyAudio();
    EXPECT_EQ(error.kind(), ZedazidEdize::Kind::emptyAudio);
    EXPECT_EQ(error.errorDescription(), QStringLiteral("That recording was too short. Try again."));
}

TEST(ZedazidEdize, MessageIsCarriedWholeAndUnchanged) {
    const QString texts[] = {
        QString(),
        QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again."),
        QStringLiteral("  Two sentences.  With spaces kept. \n"),
    };
    for (const QString& text : texts) {
        const ZedazidEdize error = ZedazidEdize::message(text);
        EXPECT_EQ(error.kind(), ZedazidEdize::Kind::message);
        ASSERT_TRUE(error.errorDescription().has_value());
        EXPECT_EQ(*error.errorDescription(), text);
    }
}

TEST(ZedazidEdize, IsCaughtAsALocalizedErrorWithItsDescription) {
    try {
        throw ZedazidEdize::message(QStringLiteral("Keep each recording under three minutes."));
    } catch (const LocalizedError& error) {
        EXPECT_EQ(error.errorDescription(),
                  QStringLiteral("Keep each recording under three minutes."));
    }
}

TEST(TransportError, KeepsTheNetworkCodeAndItsOwnDescription) {
    try {
        throw TransportError(QNetworkReply::ConnectionRefusedError, QStringLiteral("refused"));
    } catch (const LocalizedError& error) {
        const auto* transport = dynamic_cast<const TransportError*>(&error);
        ASSERT_NE(transport, nullptr);
        EXPECT_EQ(transport->code(), QNetworkReply::ConnectionRefusedError);
        EXPECT_EQ(error.errorDescription(), QStringLiteral("refused"));
    }
}
