#include "tools/JsonLine.h"

#include <cstdlib>

namespace Qor::Tools {

namespace {

class Reader {
public:
    explicit Reader(const std::string& line) : line(line) {}

    std::string object(JsonObject& result)
    {
        skipSpace();
        if (!take('{'))
            return expected("an object, \"{\"");
        skipSpace();
        if (take('}'))
            return end();
        for (;;) {
            skipSpace();
            std::string key;
            if (std::string error = text(key); !error.empty())
                return error;
            skipSpace();
            if (!take(':'))
                return expected("\":\"");
            JsonValue value;
            if (std::string error = valueOf(value); !error.empty())
                return error;
            if (!result.emplace(key, std::move(value)).second)
                return "key \"" + key + "\" given twice";
            skipSpace();
            if (take('}'))
                return end();
            if (!take(','))
                return expected("\",\" or \"}\"");
        }
    }

private:
    std::string end()
    {
        skipSpace();
        return at < line.size() ? expected("the end of the line") : "";
    }

    std::string valueOf(JsonValue& value)
    {
        skipSpace();
        if (word("null")) {
            value.kind = JsonValue::Null;
        } else if (word("true") || word("false")) {
            value.kind = JsonValue::Boolean;
            value.boolean = line[at - 1] == 'e' && line[at - 2] == 'u';
        } else if (at < line.size() && line[at] == '"') {
            value.kind = JsonValue::Text;
            return text(value.text);
        } else if (take('[')) {
            value.kind = JsonValue::Numbers;
            skipSpace();
            if (take(']'))
                return "";
            for (;;) {
                double n = 0;
                if (std::string error = number(n); !error.empty())
                    return error;
                value.numbers.push_back(n);
                skipSpace();
                if (take(']'))
                    return "";
                if (!take(','))
                    return expected("\",\" or \"]\"");
            }
        } else {
            value.kind = JsonValue::Number;
            return number(value.number);
        }
        return "";
    }

    std::string number(double& n)
    {
        skipSpace();
        const char* start = line.c_str() + at;
        if (at >= line.size() || !(line[at] == '-' || (line[at] >= '0' && line[at] <= '9')))
            return expected("a value");
        char* stop = nullptr;
        n = std::strtod(start, &stop);
        if (stop == start)
            return expected("a number");
        at += size_t(stop - start);
        return "";
    }

    std::string text(std::string& out)
    {
        if (!take('"'))
            return expected("a text in double quotes");
        while (at < line.size() && line[at] != '"') {
            char c = line[at++];
            if (c == '\\') {
                if (at >= line.size())
                    break;
                const char e = line[at++];
                switch (e) {
                case '"': case '\\': case '/': c = e; break;
                case 'n': c = '\n'; break;
                case 't': c = '\t'; break;
                case 'r': c = '\r'; break;
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                default:
                    --at;
                    return expected("an escape this reader knows (\\\" \\\\ \\/ \\n \\t \\r \\b \\f)");
                }
            }
            out += c;
        }
        if (!take('"'))
            return expected("the closing double quote");
        return "";
    }

    bool word(const char* w)
    {
        const std::string text(w);
        if (line.compare(at, text.size(), text) != 0)
            return false;
        at += text.size();
        return true;
    }

    bool take(char c)
    {
        if (at < line.size() && line[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    void skipSpace()
    {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r'))
            ++at;
    }

    std::string expected(const std::string& what) const
    {
        return "column " + std::to_string(at + 1) + ": expected " + what;
    }

    const std::string& line;
    size_t at = 0;
};

} // namespace

std::string parseJsonLine(const std::string& line, JsonObject& object)
{
    object.clear();
    const std::string error = Reader(line).object(object);
    if (!error.empty())
        object.clear();
    return error;
}

} // namespace Qor::Tools
