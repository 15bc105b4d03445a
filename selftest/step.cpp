// SPDX-License-Identifier: MIT
#include "selftest/step.h"

#include "protocol/hex_text.h"

#include <functional>

namespace vorla {

namespace {
constexpr int16_t kEndlessRepeat = 7;

QString HexOf(const Frame& frame) { return HexBytes(frame.toByteArray()); }

PlayAmount Characters(const QString& text) {
    PlayAmount a{};
    a[size_t(PlayKind::Character)] = int(text.size());
    return a;
}

PlayAmount One(PlayKind kind) {
    PlayAmount a{};
    a[size_t(kind)] = 1;
    return a;
}

PlayKind KindOfItemCode(int32_t code) {
    switch (code & 0xF0) {
    case kPhraseBase: return PlayKind::Phrase;
    case kSoundBase: return PlayKind::Sound;
    case kPoemBase: return PlayKind::Poem;
    default: return PlayKind::Music;
    }
}

// Builds the table in order; every step starts from the controls as the
// window opens, at the run's rate.
class TableBuilder {
public:
    explicit TableBuilder(int16_t startBaudIndex) : start_(startBaudIndex), rate_(startBaudIndex) {}

    Controls base(int16_t baudIndex = -1) const {
        Controls c = Controls::startUp();
        c.baudIndex = baudIndex < 0 ? start_ : baudIndex;
        return c;
    }
    Step& add(const QString& group, const QString& name, Command command, const Controls& controls, Expect expect) {
        Step s;
        s.group = group;
        s.name = name;
        s.command = command;
        s.controls = controls;
        s.expect = expect;
        s.report = controls.play.finishReport != 0;
        s.passes = controls.play.repeatIndex == kEndlessRepeat ? 0 : controls.play.repeatIndex + 1;
        // A rate frame goes at the rate before it; the stop after it, and
        // the steps after that, at the new one.
        s.baud = BaudRateAt(rate_)->baud;
        if (command == Command::Baud || command == Command::BaudAndOutput) rate_ = controls.baudIndex;
        s.stopBaud = BaudRateAt(rate_)->baud;
        steps_.push_back(std::move(s));
        return steps_.back();
    }
    Step& control(const QString& group, const QString& name, Command command,
                  const std::function<void(Controls&)>& set = {}) {
        Controls c = base();
        if (set) set(c);
        return add(group, name, command, c, Expect::Reply);
    }
    Step& text(const QString& name, const QString& words, const std::function<void(Controls&)>& set = {},
               int16_t baudIndex = -1) {
        Controls c = base(baudIndex);
        c.text = words;
        if (set) set(c);
        Step& s = add(QStringLiteral("text"), name, Command::Text, c, Expect::Play);
        s.amount = Characters(words);
        if (baudIndex >= 0) s.group = QStringLiteral("baud");
        return s;
    }
    // A frame typed into the raw sender: as typed, or with its check byte computed.
    Step& raw(const QString& group, const QString& name, const QString& hex, Expect expect,
              Command command = Command::RawAsTyped) {
        Controls c = base();
        c.rawText = hex;
        return add(group, name, command, c, expect);
    }
    int16_t start() const { return start_; }
    std::vector<Step> take() { return std::move(steps_); }

private:
    int16_t start_;
    int16_t rate_;  // the rate the chip runs at once the steps so far have run
    std::vector<Step> steps_;
};

void AddControlSteps(TableBuilder& t) {
    t.control(QStringLiteral("link"), QStringLiteral("停止"), Command::Stop);
    // The raw sender computing the check byte: a stop frame typed without it.
    t.raw(QStringLiteral("link"), QStringLiteral("原始帧自动校验"), QStringLiteral("01 C0 80 80 04"), Expect::Reply,
          Command::RawWithCheckByte);
    const QString controls = QStringLiteral("controls");
    t.control(controls, QStringLiteral("休眠"), Command::SleepWake);
    t.control(controls, QStringLiteral("唤醒"), Command::SleepWake);
    t.control(controls, QStringLiteral("DA输出"), Command::OutputMode, [](Controls& c) { c.outputIndex = 0; });
    t.control(controls, QStringLiteral("PWM输出"), Command::OutputMode, [](Controls& c) { c.outputIndex = 1; });
    t.control(controls, QStringLiteral("波特率与输出方式"), Command::BaudAndOutput).stopAfter = true;
}

// Each other rate: switched to, stopped and a text read at it; then back.
void AddBaudSteps(TableBuilder& t) {
    const QString baud = QStringLiteral("baud");
    for (int16_t index = 0; index < kBaudRates; ++index) {
        if (index == t.start()) continue;
        const int rate = BaudRateAt(index)->baud;
        t.control(baud, QStringLiteral("波特率%1").arg(rate), Command::Baud, [index](Controls& c) {
             c.baudIndex = index;
         }).stopAfter = true;
        t.text(QStringLiteral("波特率%1朗读").arg(rate), QStringLiteral("你好"), {}, index);
    }
    t.control(baud, QStringLiteral("回到波特率%1").arg(BaudRateAt(t.start())->baud), Command::Baud).stopAfter = true;
}

void AddTextSteps(TableBuilder& t) {
    const QString welcome = QStringLiteral("欢迎使用！");
    for (int16_t level = 0; level < 6; ++level)
        t.text(QStringLiteral("音量%1级").arg(level + 1), welcome,
               [level](Controls& c) { c.play.volumeLevel = level; });
    const auto only = [](int16_t yao, int16_t punctuation, int16_t name) {
        return [=](Controls& c) {
            c.play.readOneAsYao = yao;
            c.play.readPunctuation = punctuation;
            c.play.readAsName = name;
        };
    };
    t.text(QStringLiteral("不加朗读选项"), QStringLiteral("今天天气晴朗，气温21度。"), only(0, 0, 0));
    t.text(QStringLiteral("1读成幺"), QStringLiteral("电话120，13800138000"), only(1, 0, 0));
    t.text(QStringLiteral("读标点符号"), QStringLiteral("你好，世界！对吗？"), only(0, 1, 0));
    t.text(QStringLiteral("按姓名处理"), QStringLiteral("欧阳晓明"), only(0, 0, 1));
    for (int16_t tune = 0; tune < int16_t(TuneNames().size()); ++tune)
        t.text(QStringLiteral("背景音乐%1").arg(TuneNames()[tune]), welcome,
               [tune](Controls& c) { c.play.musicIndex = tune; });
    t.text(QStringLiteral("25个字"), QStringLiteral("语音合成芯片把文字变成声音，每一帧最多可以读二十五个汉字。"));
    t.text(QStringLiteral("数字与ASCII字符"), QStringLiteral("ABC xyz 0123456789 +-*/=?"));
    t.text(QStringLiteral("一个字"), QStringLiteral("好"));
    t.text(QStringLiteral("换行与制表符"), QStringLiteral("第一行\r\n第二行\t完"));
    t.text(QStringLiteral("循环2遍"), QStringLiteral("你好"), [](Controls& c) { c.play.repeatIndex = 1; });
    t.text(QStringLiteral("一直循环"), QStringLiteral("你好"),
           [](Controls& c) { c.play.repeatIndex = kEndlessRepeat; });
    t.text(QStringLiteral("不要播完报告"), QStringLiteral("你好"), [](Controls& c) { c.play.finishReport = 0; });
    // Every option on, the longest repeat before endless, the last tune, the
    // loudest level: the largest option and sound bytes.
    t.text(QStringLiteral("最大选项与声音字节"), QStringLiteral("好"),
           [](Controls& c) { c.play = PlaySettings{1, 1, 1, 6, 1, 7, 5, 1}; });
}

void AddStoredItemSteps(TableBuilder& t) {
    struct List {
        const char* group;
        ItemKind kind;
        Command command;
    };
    const List lists[] = {{"music", ItemKind::Music, Command::Music},
                          {"phrases", ItemKind::Phrase, Command::Phrase},
                          {"poems", ItemKind::Poem, Command::Poem},
                          {"sounds", ItemKind::Sound, Command::Sound}};
    for (const List& list : lists) {
        const QStringList& items = StoredItems(list.kind);
        for (int16_t i = 0; i < int16_t(items.size()); ++i) {
            const bool karaoke = IsKaraoke(list.kind, i);
            Controls c = t.base();
            c.itemIndex[size_t(list.kind)] = i;
            c.play.lyricsBack = karaoke ? 1 : 0;
            t.add(QString::fromLatin1(list.group), items[i].trimmed(), list.command, c,
                  karaoke ? Expect::Lyrics : Expect::Play)
                .amount = One(PlayKindOf(list.kind));
        }
    }
    // Lyrics asked of a piece that has none: it plays without them.
    Controls c = t.base();
    c.itemIndex[size_t(ItemKind::Music)] = kKaraokePieces;
    c.play.lyricsBack = 1;
    t.add(QStringLiteral("music"), QStringLiteral("非卡拉OK曲目要歌词"), Command::Music, c, Expect::Play).amount =
        One(PlayKind::Music);
}

void AddCodeSteps(TableBuilder& t) {
    // Each code's frame as the window builds it with the start-up settings.
    for (int k = 0; k < kCodeLists; ++k) {
        const CodeListItems items = InitialCodeList(k);
        const Frame frame = CodeFrame(FrameEnds{}, PlayHeaderFor(Controls::startUp().play), items);
        Step& s = t.raw(QStringLiteral("codes"), QStringLiteral("代码%1").arg(k + 1), HexOf(frame),
                        items.empty() ? Expect::Reply : Expect::Play);
        s.amount = CodeListAmount(k);
        if (items.empty()) s.frameWords = QStringLiteral("空代码：没有项目的播放帧");
    }
    // Code playback as the window runs it: each code waits for its finish report.
    Step& run = t.add(QStringLiteral("codes"), QStringLiteral("代码连续播放"), Command::CodePlayback, t.base(),
                      Expect::CodeRun);
    for (int k = 0; k < kCodeLists; ++k)
        for (size_t i = 0; i < run.amount.size(); ++i) run.amount[i] += CodeListAmount(k)[i];
    run.fullOnly = true;
}

void AddRobustnessSteps(TableBuilder& t) {
    const QString group = QStringLiteral("robustness");
    const auto sealed = [](std::vector<uint8_t> bytes) { return HexOf(Frame::Sealed(std::move(bytes))); };
    t.raw(group, QStringLiteral("校验字节错误"), QStringLiteral("01 C0 80 80 04 C4"), Expect::Refused);
    t.raw(group, QStringLiteral("不完整的帧"), QStringLiteral("01 80 87"), Expect::Refused);
    t.raw(group, QStringLiteral("未知命令"), QStringLiteral("01 40 80 80 04 45"), Expect::Refused);
    // The check byte is right for the bytes sent, the head or the tail is not.
    t.raw(group, QStringLiteral("帧头错误"), sealed({0x02, 0xC0, 0x80, 0x80, kFrameTail}), Expect::Refused);
    t.raw(group, QStringLiteral("帧尾错误"), QStringLiteral("01 C0 80 80 05 C4"), Expect::Refused);
    // 27 characters: 60 bytes, longer than the chip's frame buffer.
    std::vector<uint8_t> longFrame{0x01, 0x80, 0x80, 0x80};
    for (int i = 0; i < 27; ++i) longFrame.insert(longFrame.end(), {0xB0, 0xA1});
    longFrame.push_back(kFrameTail);
    // Nothing in the chip's protocol says it must refuse these two: the
    // limits say whether it must.
    Step& overlong = t.raw(group, QStringLiteral("超长帧"), sealed(longFrame), Expect::Refused);
    overlong.refusal = QStringLiteral("overlongFrame");
    overlong.frameWords =
        QStringLiteral("超长帧：%1字节，长于芯片的%2字节帧缓冲").arg(longFrame.size() + 1).arg(kFrameBufferSize);
    Step& unknown = t.raw(group, QStringLiteral("未知项目代码"),
                          sealed({0x01, 0x80, 0x80, 0x80, 0x6F, 0xAF, kFrameTail}), Expect::Refused);
    unknown.refusal = QStringLiteral("unknownItemCode");
    unknown.frameWords = QStringLiteral("未知项目代码 6F AF");
    // Rate bits 5: no rate. The chip may take or refuse it but must stay at its rate.
    t.raw(group, QStringLiteral("未定义的波特率代码"), sealed({0x01, 0x8A, 0x80, 0x80, kFrameTail}), Expect::NoEffect)
        .frameWords = QStringLiteral("未定义的波特率代码：速率位为5");
}
}  // namespace

QString ExpectName(Expect expect) {
    switch (expect) {
    case Expect::Reply: return QStringLiteral("acceptance");
    case Expect::Play: return QStringLiteral("play");
    case Expect::Lyrics: return QStringLiteral("lyrics and play");
    case Expect::Refused: return QStringLiteral("rejected or ignored");
    case Expect::NoEffect: return QStringLiteral("no change of rate");
    case Expect::CodeRun: return QStringLiteral("every code played");
    }
    return QString();
}

QString Step::describe() const {
    QString line = QStringLiteral("%1: expects %2").arg(id(), ExpectName(expect));
    if (plays()) {
        QStringList parts;
        for (size_t k = 0; k < amount.size(); ++k)
            if (amount[k] > 0) parts << QStringLiteral("%1 %2").arg(amount[k]).arg(PlayKindName(PlayKind(k)));
        line += QStringLiteral(" (%1, %2%3)")
                    .arg(parts.join(QStringLiteral(" + ")),
                         passes == 0 ? QStringLiteral("until stopped") : QStringLiteral("%1 pass(es)").arg(passes),
                         report ? QStringLiteral(", finish report") : QString());
    }
    if (stopAfter) line += QStringLiteral(", then a stop");
    return line;
}

PlayAmount CodeListAmount(int list) {
    PlayAmount a{};
    for (const CodeListItem& item : InitialCodeList(list)) {
        if (item.code == 0) a[size_t(PlayKind::Character)] += int(item.text.size());
        else ++a[size_t(KindOfItemCode(item.code))];
    }
    return a;
}

std::vector<Step> StepTable(int16_t startBaudIndex) {
    TableBuilder t(startBaudIndex);
    AddControlSteps(t);
    AddBaudSteps(t);
    AddTextSteps(t);
    AddStoredItemSteps(t);
    AddCodeSteps(t);
    AddRobustnessSteps(t);
    return t.take();
}

QStringList StepGroups() {
    return {QStringLiteral("link"),  QStringLiteral("controls"),  QStringLiteral("baud"),  QStringLiteral("text"),
            QStringLiteral("music"), QStringLiteral("phrases"),   QStringLiteral("poems"), QStringLiteral("sounds"),
            QStringLiteral("codes"), QStringLiteral("robustness")};
}

}  // namespace vorla
