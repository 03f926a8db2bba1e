#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <string_view>

/// One complete control sequence (ESC "[" … final) as the parser read it.
struct TerminalControlSequence {
    /// The private marker: the first parameter character when it is one of "<", "=", ">",
    /// "?"; otherwise 0.
    char marker = 0;
    /// True when an intermediate character (0x20-0x2F) appears among the parameters.
    bool hasIntermediates = false;
    /// True when a ":" (sub-parameter separator) appears among the parameters.
    bool hasSubparameters = false;
    /// The parameter characters after the marker. Scalars outside ASCII appear as 0xFF.
    std::string_view parameters;
    /// When the parameters are only digits and ";", their values (each capped at 1,000,000,
    /// empty fields 0), already read by the parser; otherwise parameterCount is 0 and the
    /// text has to be read.
    const int* parameterValues = nullptr;
    int parameterCount = 0;
    char finalCharacter = 0;
};

/// Receives what the parser recognised. The parser itself knows only the syntax.
class TerminalParserHandler {
public:
    virtual ~TerminalParserHandler() = default;
    /// A run of printable ASCII characters (0x20-0x7E) in ground state.
    virtual void printAscii(const char* text, std::size_t length) = 0;
    /// A run of other printable scalars (0xA0 and above, and 0x80-0x9F, which are printed
    /// too), in order, in ground state. Short stretches of printable ASCII between them may
    /// come in the same run.
    virtual void print(const char32_t* scalars, std::size_t count) = 0;
    /// Text in ground state from `bytes`, whose first byte is 0x80 or above: prints the
    /// whole, valid UTF-8 sequences and the printable ASCII among them it takes, and returns
    /// where it stopped (`bytes` when the first sequence is not whole and valid: the parser
    /// then decodes it byte by byte). This one decodes them into runs for print(); a
    /// handler may write them straight from the bytes.
    virtual const std::uint8_t* printUtf8(const std::uint8_t* bytes, const std::uint8_t* end);
    /// A control character below 0x20 (other than ESC) or DEL, in ground state.
    virtual void control(char32_t character) = 0;
    /// ESC followed by `finalCharacter`; `intermediate` is the character between them
    /// ("(" for a G0 designation, "#", "%", …) or 0.
    virtual void escape(char32_t intermediate, char32_t finalCharacter) = 0;
    virtual void controlSequence(const TerminalControlSequence& sequence) = 0;
    /// An operating system command (ESC "]" … BEL or ST): its text, decoded (invalid UTF-8
    /// as U+FFFD) and cut at TerminalParser::kMaxCommandLength UTF-16 units, and whether BEL
    /// ended it (else ST did; a reply uses the same ending).
    virtual void operatingSystemCommand(QStringView text, bool bellTerminated) {
        (void)text;
        (void)bellTerminated;
    }
};

/// The byte- and scalar-level state machine of the terminal: decodes UTF-8 across chunk
/// boundaries (each maximal invalid subpart becomes one U+FFFD) and splits the scalars into
/// printable text, controls, escape sequences and control sequences. Operating system
/// commands reach the handler whole; the other strings (DCS, PM, APC) are consumed without
/// reaching it.
class TerminalParser {
public:
    /// The states, numbered as the screen reports them.
    enum class State : int {
        Ground = 0,
        Escape = 1,
        ControlSequence = 2,
        String = 3,
        StringEscape = 4,
        EscapeIntermediate = 5,  ///< after ESC "(" / ESC ")" / ESC "#" …: one more scalar ends it
    };

    /// A control sequence is abandoned when its parameter characters reach this length.
    static constexpr int kMaxSequenceLength = 512;
    /// Numbers in a control sequence are capped here.
    static constexpr int kMaxParameterValue = 1'000'000;
    /// The text of an operating system command is kept up to this many UTF-16 units; the
    /// rest is dropped.
    static constexpr int kMaxCommandLength = 4096;
    /// A clipboard command ("52;…") may be longer: room for 1 MiB in base64 and a few
    /// characters more, so a cut one is always over that size.
    static constexpr int kMaxClipboardCommandLength = 64 + 4 * (((1 << 20) + 2) / 3);
    /// A hyperlink command ("8;…") is read up to 8192 units, and one more, so the screen
    /// tells one that was cut by its size.
    static constexpr int kMaxHyperlinkCommandLength = 8192 + 1;

    explicit TerminalParser(TerminalParserHandler& handler) : m_handler(handler) {}

    /// Raw output bytes. An incomplete UTF-8 sequence at the end waits for the next call.
    /// Returns how many bytes were read: all of them, unless the handler called pause(), and
    /// at least one.
    qsizetype feed(QByteArrayView data);
    /// From a handler call inside feed(QByteArrayView): feed() returns once that call is
    /// done and at least one byte has been read, leaving the bytes after what it has read so
    /// far for a later feed().
    void pause() { m_paused = true; }
    /// Already decoded text. Lone surrogates become U+FFFD. Pending UTF-8 bytes of feed(data)
    /// are left waiting.
    void feed(QStringView text);

private:
    void scalar(char32_t value);
    void startControlSequence();
    void finishControlSequence(char finalCharacter);
    void startUtf8(char32_t value, int needed, std::uint8_t lower, std::uint8_t upper);
    void invalidUtf8();
    /// A scalar inside a string; an operating system command keeps it.
    void stringScalar(char32_t value);
    /// The end of a string (BEL or ST).
    void finishString(bool bellTerminated);

    TerminalParserHandler& m_handler;
    bool m_paused = false;
    State m_state = State::Ground;
    char32_t m_escapeIntermediate = 0;
    std::array<char, kMaxSequenceLength> m_sequence{};
    int m_sequenceLength = 0;
    bool m_sequenceUnusual = false;  // holds more than digits and ";" after the marker
    // 512 parameter characters hold at most 513 fields.
    std::array<int, kMaxSequenceLength + 1> m_parameters{};
    int m_parameterCount = 0;
    int m_parameterValue = 0;
    bool m_inCommand = false;  // the current string is an operating system command
    QString m_command;         // its text so far
    int m_commandLimit = kMaxCommandLength;

    // UTF-8 decoding between bytes and scalars.
    char32_t m_utf8Value = 0;
    int m_utf8Needed = 0;  // continuation bytes still expected
    int m_utf8Length = 0;  // bytes of the current sequence seen so far
    std::uint8_t m_utf8Lower = 0x80;
    std::uint8_t m_utf8Upper = 0xBF;
};
