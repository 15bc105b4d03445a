// SPDX-License-Identifier: MIT
#include "model/model_case.h"

#include <ostream>
#include <string>

#include "conversation/code_lists.h"

namespace vorla::model {

namespace gen = rc::gen;

QString TextChoice(int value) {
    switch (value) {
    case 1: return QString();  // nothing to read: the click sends nothing
    case 2: return QStringLiteral("你好ABC");
    default: return Controls::startUp().text;
    }
}

// Typed frames no button builds (mode byte 0xAA), and a text that is not hex.
QString RawTextChoice(int value) {
    switch (value) {
    case 1: return QStringLiteral("01 AA 55 04");
    case 2: return QStringLiteral("01 XY");
    case 3: return QStringLiteral("01 AA 55 04 FE");
    default: return QString();
    }
}

CodeListValues ListsChoice(int value) {
    switch (value) {
    case 1: return {};
    case 2: return {{{}, {}, InitialCodeList(2), {}}};
    case 3: return {{{{QStringLiteral("你好"), 0}}, {{QStringLiteral("60B3"), 0x60B3}}, {}, {}}};
    default: return InitialCodeLists();
    }
}

bool IsOperator(const Action& action) { return action.index() < std::variant_size_v<Action> - 4; }

namespace {

rc::Gen<int> GenStray() { return gen::inRange(0, int(std::size(kStrayBytes))); }
rc::Gen<int> GenMaybeStray() { return gen::weightedOneOf<int>({{3, gen::just(kNoStray)}, {1, GenStray()}}); }
rc::Gen<reply::Kind> GenKind() {
    return gen::element(reply::Kind::Accepted, reply::Kind::Finished, reply::Kind::Rejected);
}

// Two or three replies; an acceptance and a finish report (a play that was
// over at once) more often than chance gives.
rc::Gen<std::vector<reply::Kind>> GenBurstKinds() {
    using Kinds = std::vector<reply::Kind>;
    return gen::weightedOneOf<Kinds>(
        {{1, gen::just(Kinds{reply::Kind::Accepted, reply::Kind::Finished})},
         {2, gen::mapcat(gen::inRange<size_t>(2, 4), [](size_t n) { return gen::container<Kinds>(n, GenKind()); })}});
}

rc::Gen<Action> GenClick() {
    return gen::map(gen::weightedElement<Command>({{4, Command::Music},
                                                   {3, Command::Phrase},
                                                   {3, Command::Text},
                                                   {4, Command::CodePlayback},
                                                   {3, Command::Stop},
                                                   {3, Command::SleepWake},
                                                   {1, Command::Poem},
                                                   {1, Command::Sound},
                                                   {1, Command::Baud},
                                                   {1, Command::BaudAndOutput},
                                                   {1, Command::OutputMode},
                                                   {1, Command::RawWithCheckByte},
                                                   {1, Command::RawAsTyped}}),
                    [](Command c) { return Action(Click{c}); });
}

rc::Gen<Action> GenSetField() {
    return gen::mapcat(
        gen::weightedElement<Field>({{4, Field::LyricsBack},
                                     {2, Field::FinishReport},
                                     {2, Field::BaudIndex},
                                     {1, Field::Text},
                                     {1, Field::RawText}}),
        [](Field f) {
            const int values = f == Field::BaudIndex || f == Field::RawText ? 4 : f == Field::Text ? 3 : 2;
            return gen::map(gen::inRange(0, values), [f](int v) { return Action(SetField{f, v}); });
        });
}

rc::Gen<Action> GenLyrics() {
    return gen::cast<Action>(gen::build<Lyrics>(
        gen::set(&Lyrics::piece, gen::inRange(-1, kKaraokePieces)), gen::set(&Lyrics::acceptFirst),
        gen::set(&Lyrics::delayMs, gen::element(0, 200, 600, 1500)), gen::set(&Lyrics::opening, gen::inRange(0, 4)),
        gen::set(&Lyrics::strayAt, gen::weightedOneOf<int>({{3, gen::just(-1)}, {1, gen::inRange(0, 100)}})),
        gen::set(&Lyrics::stray, GenStray()),
        gen::set(&Lyrics::pauseAt, gen::weightedOneOf<int>({{3, gen::just(-1)}, {1, gen::inRange(0, 100)}})),
        gen::set(&Lyrics::pauseMs, gen::element(50, 300, 600, 2000))));
}

rc::Gen<Action> GenAction() {
    return gen::weightedOneOf<Action>({
        {10, GenClick()},
        {5, GenSetField()},
        {1, gen::map(gen::inRange(0, 4), [](int v) { return Action(EditLists{v}); })},
        {1, gen::map(gen::element<int16_t>(1, 2), [](int16_t p) { return Action(SwitchPort{p}); })},
        {12, gen::cast<Action>(gen::build<Reply>(gen::set(&Reply::kind, GenKind()),
                                                 gen::set(&Reply::strayBefore, GenMaybeStray()),
                                                 gen::set(&Reply::strayAfter, GenMaybeStray())))},
        {3, gen::cast<Action>(gen::build<Burst>(gen::set(&Burst::kinds, GenBurstKinds()),
                                                gen::set(&Burst::strayAfter, GenMaybeStray())))},
        {4, GenLyrics()},
        {2, gen::map(GenStray(), [](int s) { return Action(Stray{s}); })},
    });
}

// Mostly short gaps, where replies, clicks and waits meet; now and then a
// long one that lets every wait end.
rc::Gen<int> GenDelay() {
    return gen::weightedOneOf<int>({{3, gen::inRange(0, 40)},
                                    {4, gen::inRange(40, 400)},
                                    {2, gen::inRange(400, 2500)},
                                    {1, gen::inRange(2500, 12000)}});
}

const char* CommandName(Command c) {
    switch (c) {
    case Command::None: return "None";
    case Command::Stop: return "Stop";
    case Command::Music: return "Music";
    case Command::Phrase: return "Phrase";
    case Command::Poem: return "Poem";
    case Command::Sound: return "Sound";
    case Command::Text: return "Text";
    case Command::Baud: return "Baud";
    case Command::SleepWake: return "SleepWake";
    case Command::OutputMode: return "OutputMode";
    case Command::BaudAndOutput: return "BaudAndOutput";
    case Command::RawWithCheckByte: return "RawWithCheckByte";
    case Command::RawAsTyped: return "RawAsTyped";
    case Command::CodePlayback: return "CodePlayback";
    }
    return "?";
}

const char* KindName(reply::Kind k) {
    switch (k) {
    case reply::Kind::Accepted: return "01 11 14";
    case reply::Kind::Rejected: return "01 10 14";
    case reply::Kind::Finished: return "01 12 14";
    }
    return "?";
}

const char* FieldName(Field f) {
    switch (f) {
    case Field::LyricsBack: return "Check5 (lyrics back)";
    case Field::FinishReport: return "Check1 (finish report)";
    case Field::BaudIndex: return "baud index";
    case Field::Text: return "text choice";
    case Field::RawText: return "raw text choice";
    }
    return "?";
}

std::string StrayText(int stray) {
    if (stray < 0 || stray >= int(std::size(kStrayBytes))) return "?";
    return QByteArray(1, char(kStrayBytes[stray])).toHex().toUpper().toStdString();
}

struct ShowAction {
    std::ostream& os;
    void operator()(const Click& a) const { os << "click " << CommandName(a.command); }
    void operator()(const SetField& a) const { os << "set " << FieldName(a.field) << " = " << a.value; }
    void operator()(const EditLists& a) const { os << "code lists: choice " << a.variant; }
    void operator()(const SwitchPort& a) const { os << "port COM" << a.port; }
    void operator()(const Reply& a) const {
        os << "chip: ";
        if (a.strayBefore != kNoStray) os << "stray " << StrayText(a.strayBefore) << ", ";
        os << KindName(a.kind);
        if (a.strayAfter != kNoStray) os << ", stray " << StrayText(a.strayAfter);
    }
    void operator()(const Burst& a) const {
        os << "chip burst:";
        for (reply::Kind k : a.kinds) os << " " << KindName(k);
        if (a.strayAfter != kNoStray) os << " + stray " << StrayText(a.strayAfter);
    }
    void operator()(const Lyrics& a) const {
        os << "chip lyrics: piece " << a.piece << (a.acceptFirst ? ", after 01 11 14" : "") << ", delay " << a.delayMs
           << " ms, opening " << a.opening;
        if (a.strayAt >= 0) os << ", stray " << StrayText(a.stray) << " at " << a.strayAt << "%";
        if (a.pauseAt >= 0) os << ", pause " << a.pauseMs << " ms at " << a.pauseAt << "%";
    }
    void operator()(const Stray& a) const { os << "chip: stray " << StrayText(a.stray); }
};

}  // namespace

rc::Gen<Case> GenCase() {
    return gen::build<Case>(
        gen::set(&Case::line, gen::element(sim::LineKind::Uart, sim::LineKind::Usb, sim::LineKind::Burst)),
        gen::set(&Case::usbPhaseMs, gen::inRange(0, 16)),
        gen::set(&Case::steps, gen::container<std::vector<Step>>(gen::build<Step>(
                                   gen::set(&Step::delayMs, GenDelay()), gen::set(&Step::action, GenAction())))));
}

void showValue(const Step& step, std::ostream& os) {
    os << "+" << step.delayMs << " ms ";
    std::visit(ShowAction{os}, step.action);
}

void showValue(const Case& c, std::ostream& os) {
    os << "line " << sim::LineKindName(c.line).toStdString();
    if (c.line == sim::LineKind::Usb) os << " (timer phase " << c.usbPhaseMs << " ms)";
    int n = 0;
    for (const Step& s : c.steps) showValue(s, os << "\n  " << n++ << ": ");
}

}  // namespace vorla::model
