// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Parser.h"

#include "server/engine/ScriptError.h"

#include <initializer_list>
#include <unordered_set>

namespace asp {

namespace {

ExprPtr makeExpr(Expr::Kind kind)
{
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    return e;
}

ExprPtr literal(Value v, bool hard)
{
    auto e = makeExpr(Expr::Kind::Literal);
    e->value = std::move(v);
    e->hard = hard;
    return e;
}

class Parser {
public:
    explicit Parser(ScannedPage page)
        : m_tokens(std::move(page.tokens))
        , m_program(std::make_unique<Program>())
    {
        m_program->files = std::move(page.files);
        m_program->html = std::move(page.html);
    }

    std::unique_ptr<Program> parse()
    {
        m_program->body = parseBlock({});
        return std::move(m_program);
    }

private:
    const Token& peek(size_t ahead = 0) const
    {
        const size_t i = std::min(m_pos + ahead, m_tokens.size() - 1);
        return m_tokens[i];
    }
    const Token& next() { return m_tokens[std::min(m_pos++, m_tokens.size() - 1)]; }
    bool at(Tok kind) const { return peek().kind == kind; }
    bool atKeyword(Kw k) const { return peek().kind == Tok::Keyword && peek().keyword == k; }
    bool atWord(const char* word) const
    {
        return peek().kind == Tok::Identifier && peek().text == QLatin1String(word);
    }

    [[noreturn]] void fail(ScriptError e) const
    {
        const Token& t = peek();
        e.file = m_program->files.empty() ? QString() : m_program->files[t.file];
        e.line = t.line;
        throw e;
    }
    [[noreturn]] void failSyntax(long number, const QString& text) const { fail(syntaxError(number, text)); }
    [[noreturn]] void failUnsupported(const QString& what) const { fail(unsupported(what)); }

    void expect(Tok kind, const char* shown)
    {
        if (!at(kind))
            failSyntax(1002, QStringLiteral("缺少 '") + QLatin1String(shown) + u'\'');
        next();
    }
    void expectKeyword(Kw k, const char* shown)
    {
        if (!atKeyword(k))
            failSyntax(1002, QStringLiteral("缺少 '") + QLatin1String(shown) + u'\'');
        next();
    }
    void expectWord(const char* word, const char* shown)
    {
        if (!atWord(word))
            failSyntax(1002, QStringLiteral("缺少 '") + QLatin1String(shown) + u'\'');
        next();
    }
    const Token& expectIdentifier()
    {
        if (!at(Tok::Identifier))
            failSyntax(1010, QStringLiteral("缺少标识符"));
        return next();
    }

    bool atStatementEnd() const
    {
        switch (peek().kind) {
        case Tok::Newline:
        case Tok::Colon:
        case Tok::End:
        case Tok::Html:
        case Tok::Write:
            return true;
        case Tok::Keyword:
            if (peek().keyword == Kw::End) {
                // "x = 1 End Sub": a procedure may end on the line of its last statement.
                const Token& after = peek(1);
                return (after.kind == Tok::Keyword
                        && (after.keyword == Kw::Sub || after.keyword == Kw::Function))
                       || (after.kind == Tok::Identifier && after.text == u"property");
            }
            return m_inline > 0 && (peek().keyword == Kw::Else || atEndIf());
        default:
            return false;
        }
    }

    bool atEndIf() const
    {
        return atKeyword(Kw::End) && peek(1).kind == Tok::Keyword && peek(1).keyword == Kw::If;
    }

    void expectStatementEnd()
    {
        if (!atStatementEnd())
            failSyntax(1025, QStringLiteral("语句未结束"));
    }

    bool atTerminator(std::initializer_list<Kw> terminators) const
    {
        if (peek().kind != Tok::Keyword)
            return false;
        for (Kw k : terminators) {
            if (peek().keyword == k)
                return true;
        }
        return false;
    }

    Block parseBlock(std::initializer_list<Kw> terminators)
    {
        Block block;
        for (;;) {
            while (at(Tok::Newline) || at(Tok::Colon))
                next();
            if (at(Tok::End)) {
                if (terminators.size() != 0)
                    failSyntax(1012, QStringLiteral("缺少 'End'、'Loop'、'Next' 或 'Wend'"));
                return block;
            }
            if (atTerminator(terminators))
                return block;
            if (auto s = parseStatement())
                block.push_back(std::move(s));
            expectStatementEnd();
        }
    }

    std::unique_ptr<Stmt> makeStmt(Stmt::Kind kind) const
    {
        auto s = std::make_unique<Stmt>();
        s->kind = kind;
        s->file = peek().file;
        s->line = peek().line;
        return s;
    }

    std::unique_ptr<Stmt> parseStatement()
    {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Html: {
            auto s = makeStmt(Stmt::Kind::Html);
            s->html = next().html;
            return s;
        }
        case Tok::Write: {
            auto s = makeStmt(Stmt::Kind::Write);
            next();
            s->target = parseExpression();
            return s;
        }
        case Tok::Identifier:
            if (t.text == u"stop" && peekIsStatementEnd(1)) {
                next(); // a breakpoint for a debugger; a server runs on
                return nullptr;
            }
            return parseAssignmentOrCall();
        case Tok::Dot:
            return parseAssignmentOrCall();
        case Tok::Keyword:
            if (t.keyword == Kw::Me)
                return parseAssignmentOrCall();
            break;
        default:
            failSyntax(1024, QStringLiteral("缺少语句"));
        }

        switch (t.keyword) {
        case Kw::Dim:
            next();
            return parseDim(Stmt::Kind::Dim);
        case Kw::Private:
        case Kw::Public:
            next();
            if (atKeyword(Kw::Sub) || atKeyword(Kw::Function))
                return parseProcedure();
            if (atWord("property"))
                failSyntax(1002, QStringLiteral("Property 只能写在 Class 中"));
            if (atKeyword(Kw::Const))
                return parseConst();
            return parseDim(Stmt::Kind::Dim);
        case Kw::ReDim: {
            next();
            const bool preserve = atWord("preserve");
            if (preserve)
                next();
            auto s = parseDim(Stmt::Kind::ReDim);
            s->preserve = preserve;
            return s;
        }
        case Kw::Const:
            return parseConst();
        case Kw::Set: {
            auto s = makeStmt(Stmt::Kind::Set);
            next();
            s->target = parsePostfix(false);
            expect(Tok::Eq, "=");
            s->value = parseExpression();
            return s;
        }
        case Kw::Let:
            next();
            return parseAssignmentOrCall();
        case Kw::If:
            return parseIf();
        case Kw::Do:
            return parseDo();
        case Kw::While:
            return parseWhile();
        case Kw::For:
            return parseFor();
        case Kw::Select:
            return parseSelect();
        case Kw::Exit:
            return parseExit();
        case Kw::On:
            return parseOnError();
        case Kw::Option:
            next();
            expectWord("explicit", "Explicit");
            m_program->optionExplicit = true;
            return nullptr;
        case Kw::Sub:
        case Kw::Function:
            return parseProcedure();
        case Kw::Call: {
            auto s = makeStmt(Stmt::Kind::Call);
            next();
            s->target = parsePostfix(false);
            return s;
        }
        case Kw::With:
            return parseWith();
        case Kw::Class:
            return parseClass();
        case Kw::Erase: {
            auto s = makeStmt(Stmt::Kind::Erase);
            next();
            const Token& name = expectIdentifier();
            s->variable = name.text;
            s->variableSpelling = name.spelling;
            return s;
        }
        case Kw::GoTo:
            failUnsupported(QStringLiteral("的语句：") + t.spelling);
        default:
            failSyntax(1024, QStringLiteral("缺少语句"));
        }
    }

    void declare(const QString& name)
    {
        if (m_class && !m_procedure)
            return; // a field, made with each object
        auto& list = m_procedure ? m_procedure->locals : m_program->globals;
        if (std::find(list.begin(), list.end(), name) == list.end())
            list.push_back(name);
    }

    bool isField(const QString& name) const
    {
        if (!m_class)
            return false;
        return std::any_of(m_class->fields.begin(), m_class->fields.end(),
                           [&](const DimItem& field) { return field.name == name; });
    }

    std::unique_ptr<Stmt> parseDim(Stmt::Kind kind)
    {
        auto s = makeStmt(kind);
        do {
            if (at(Tok::Comma))
                next();
            const Token& name = expectIdentifier();
            DimItem item{name.text, name.spelling, {}, false};
            if (at(Tok::LParen)) {
                next();
                item.isArray = true;
                while (!at(Tok::RParen)) {
                    item.bounds.push_back(parseExpression());
                    if (!at(Tok::Comma))
                        break;
                    next();
                }
                expect(Tok::RParen, ")");
            }
            if (kind == Stmt::Kind::ReDim && item.bounds.empty())
                failSyntax(1002, QStringLiteral("缺少 '('"));
            // ReDim in a procedure sizes the page's array of that name when there is one, so
            // only the running page can tell whether it declares a local.
            if (kind == Stmt::Kind::Dim || (!m_procedure && !isField(item.name)))
                declare(item.name);
            s->dims.push_back(std::move(item));
        } while (at(Tok::Comma));
        return s;
    }

    std::unique_ptr<Stmt> parseConst()
    {
        next();
        auto& list = m_procedure ? m_procedure->constants : m_program->constants;
        do {
            if (at(Tok::Comma))
                next();
            const Token& name = expectIdentifier();
            expect(Tok::Eq, "=");
            list.push_back(Constant{name.text, parseExpression()});
        } while (at(Tok::Comma));
        return nullptr;
    }

    std::unique_ptr<Stmt> parseAssignmentOrCall()
    {
        auto s = makeStmt(Stmt::Kind::Call);
        const size_t start = m_pos;
        ExprPtr target = parsePostfix(true);
        if (at(Tok::LParen) && peek().spaceBefore) {
            // "a (1) = 7" assigns an element; "Show (x), y" calls with a grouped argument.
            const size_t call = m_pos;
            m_pos = start;
            ExprPtr element;
            try {
                element = parsePostfix(false);
            } catch (const ScriptError&) {
            }
            if (element && at(Tok::Eq))
                target = std::move(element);
            else
                m_pos = call;
        }
        if (at(Tok::Eq)) {
            next();
            s->kind = Stmt::Kind::Assign;
            s->target = std::move(target);
            s->value = parseExpression();
            return s;
        }
        if (!atStatementEnd()) {
            const bool named = target->kind == Expr::Kind::Name || target->kind == Expr::Kind::Member;
            if (!named)
                failSyntax(1025, QStringLiteral("语句未结束"));
            if (target->hasArgs) {
                // Response.Write(a) & b: the parentheses only grouped the first argument.
                if (target->args.size() != 1)
                    failSyntax(1044, QStringLiteral("调用 Sub 时不能使用括号"));
                auto group = makeExpr(Expr::Kind::Paren);
                group->base = std::move(target->args.front());
                target->args.clear();
                m_pending = std::move(group);
            }
            target->args.push_back(parseArgument());
            while (at(Tok::Comma)) {
                next();
                target->args.push_back(parseArgument());
            }
            target->hasArgs = true;
        } else if (target->hasArgs
                   && (target->kind == Expr::Kind::Name || target->kind == Expr::Kind::Member)) {
            // "inc(k)" without Call: the parentheses make k an expression, passed by value.
            if (target->args.size() > 1)
                failSyntax(1044, QStringLiteral("调用 Sub 时不能使用括号"));
            if (target->args.size() == 1 && !target->args.front()->omitted) {
                auto group = makeExpr(Expr::Kind::Paren);
                group->base = std::move(target->args.front());
                target->args.front() = std::move(group);
            }
        }
        s->target = std::move(target);
        return s;
    }

    bool peekIsStatementEnd(size_t ahead) const
    {
        switch (peek(ahead).kind) {
        case Tok::Newline:
        case Tok::Colon:
        case Tok::End:
        case Tok::Html:
        case Tok::Write:
            return true;
        default:
            return false;
        }
    }

    static ExprPtr omittedArgument()
    {
        auto e = literal(Value(), false);
        e->omitted = true;
        return e;
    }

    ExprPtr parseArgument()
    {
        if (!m_pending && (at(Tok::Comma) || atStatementEnd()))
            return omittedArgument();
        return parseExpression();
    }

    std::vector<ExprPtr> parseArguments()
    {
        expect(Tok::LParen, "(");
        std::vector<ExprPtr> args;
        if (at(Tok::RParen)) {
            next();
            return args;
        }
        for (;;) {
            if (at(Tok::Comma) || at(Tok::RParen))
                args.push_back(omittedArgument());
            else
                args.push_back(parseExpression());
            if (at(Tok::RParen))
                break;
            expect(Tok::Comma, ",");
        }
        next();
        return args;
    }

    ExprPtr parsePostfix(bool statement)
    {
        ExprPtr e;
        if (at(Tok::Dot)) {
            if (m_withDepth == 0)
                failSyntax(1002, QStringLiteral("语法错误：'.' 不在 With 中"));
            e = makeExpr(Expr::Kind::With);
            if (peek(1).kind != Tok::Identifier)
                failSyntax(1010, QStringLiteral("缺少标识符"));
        } else if (atKeyword(Kw::Me)) {
            if (!m_class)
                failSyntax(1002, QStringLiteral("Me 只能用在 Class 中"));
            next();
            e = makeExpr(Expr::Kind::Me);
            e->spelling = QStringLiteral("Me");
        } else {
            const Token& first = expectIdentifier();
            e = makeExpr(Expr::Kind::Name);
            e->name = first.text;
            e->spelling = first.spelling;
        }
        for (;;) {
            const bool named = e->kind == Expr::Kind::Name || e->kind == Expr::Kind::Member;
            if (at(Tok::LParen)) {
                // "Foo (x), y": the parentheses belong to the first argument.
                if (statement && peek().spaceBefore && named && !e->hasArgs)
                    break;
                auto args = parseArguments();
                if (named && !e->hasArgs) {
                    e->args = std::move(args);
                    e->hasArgs = true;
                } else {
                    auto call = makeExpr(Expr::Kind::Call);
                    call->base = std::move(e);
                    call->args = std::move(args);
                    call->hasArgs = true;
                    e = std::move(call);
                }
                continue;
            }
            // Inside With, "Response.Write .Count" passes .Count: a dot after a blank starts anew.
            const bool member = e->kind == Expr::Kind::With
                                || (!peek(1).spaceBefore && !(m_withDepth > 0 && peek().spaceBefore));
            if (at(Tok::Dot) && peek(1).kind == Tok::Identifier && member) {
                next();
                const Token& member = next();
                auto m = makeExpr(Expr::Kind::Member);
                m->spelling = e->spelling + u'.' + member.spelling;
                m->name = member.text;
                m->base = std::move(e);
                e = std::move(m);
                continue;
            }
            break;
        }
        return e;
    }

    ExprPtr binary(Op op, ExprPtr l, ExprPtr r)
    {
        auto e = makeExpr(Expr::Kind::Binary);
        e->op = op;
        e->base = std::move(l);
        e->rhs = std::move(r);
        return e;
    }

    ExprPtr parseExpression() { return parseImp(); }

    ExprPtr parseImp()
    {
        ExprPtr l = parseEqv();
        while (atKeyword(Kw::Imp)) {
            next();
            l = binary(Op::Imp, std::move(l), parseEqv());
        }
        return l;
    }

    ExprPtr parseEqv()
    {
        ExprPtr l = parseXor();
        while (atKeyword(Kw::Eqv)) {
            next();
            l = binary(Op::Eqv, std::move(l), parseXor());
        }
        return l;
    }

    ExprPtr parseXor()
    {
        ExprPtr l = parseOr();
        while (atKeyword(Kw::Xor)) {
            next();
            l = binary(Op::Xor, std::move(l), parseOr());
        }
        return l;
    }

    ExprPtr parseOr()
    {
        ExprPtr l = parseAnd();
        while (atKeyword(Kw::Or)) {
            next();
            l = binary(Op::Or, std::move(l), parseAnd());
        }
        return l;
    }

    ExprPtr parseAnd()
    {
        ExprPtr l = parseNot();
        while (atKeyword(Kw::And)) {
            next();
            l = binary(Op::And, std::move(l), parseNot());
        }
        return l;
    }

    ExprPtr parseNot()
    {
        if (!m_pending && atKeyword(Kw::Not)) {
            next();
            auto e = makeExpr(Expr::Kind::Unary);
            e->op = Op::Not;
            e->base = parseNot();
            return e;
        }
        return parseComparison();
    }

    ExprPtr parseComparison()
    {
        ExprPtr l = parseConcat();
        for (;;) {
            Op op;
            switch (peek().kind) {
            case Tok::Eq:
                op = Op::Eq;
                break;
            case Tok::Ne:
                op = Op::Ne;
                break;
            case Tok::Lt:
                op = Op::Lt;
                break;
            case Tok::Gt:
                op = Op::Gt;
                break;
            case Tok::Le:
                op = Op::Le;
                break;
            case Tok::Ge:
                op = Op::Ge;
                break;
            default:
                if (atKeyword(Kw::Is)) {
                    next();
                    auto e = makeExpr(Expr::Kind::Is);
                    e->base = std::move(l);
                    e->rhs = parseConcat();
                    l = std::move(e);
                    continue;
                }
                return l;
            }
            next();
            l = binary(op, std::move(l), parseConcat());
        }
    }

    ExprPtr parseConcat()
    {
        ExprPtr l = parseAdditive();
        while (at(Tok::Amp)) {
            next();
            l = binary(Op::Concat, std::move(l), parseAdditive());
        }
        return l;
    }

    ExprPtr parseAdditive()
    {
        ExprPtr l = parseModulo();
        while (at(Tok::Plus) || at(Tok::Minus)) {
            const Op op = next().kind == Tok::Plus ? Op::Add : Op::Sub;
            l = binary(op, std::move(l), parseModulo());
        }
        return l;
    }

    ExprPtr parseModulo()
    {
        ExprPtr l = parseIntegerDivision();
        while (atKeyword(Kw::Mod)) {
            next();
            l = binary(Op::Mod, std::move(l), parseIntegerDivision());
        }
        return l;
    }

    ExprPtr parseIntegerDivision()
    {
        ExprPtr l = parseMultiplicative();
        while (at(Tok::Backslash)) {
            next();
            l = binary(Op::IntDiv, std::move(l), parseMultiplicative());
        }
        return l;
    }

    ExprPtr parseMultiplicative()
    {
        ExprPtr l = parsePower();
        while (at(Tok::Star) || at(Tok::Slash)) {
            const Op op = next().kind == Tok::Star ? Op::Mul : Op::Div;
            l = binary(op, std::move(l), parsePower());
        }
        return l;
    }

    ExprPtr parsePower()
    {
        ExprPtr l = parseSigned();
        while (at(Tok::Caret)) {
            next();
            l = binary(Op::Pow, std::move(l), parseSigned());
        }
        return l;
    }

    // A sign binds tighter than ^: -3 ^ 2 is 9 in VBScript.
    ExprPtr parseSigned()
    {
        if (!m_pending && (at(Tok::Minus) || at(Tok::Plus))) {
            const bool minus = next().kind == Tok::Minus;
            ExprPtr operand = parseSigned();
            if (!minus)
                return operand;
            if (operand->kind == Expr::Kind::Literal && operand->value.isNumber()
                && operand->value.type() != Value::Type::Boolean) {
                operand->value = negate(operand->value);
                return operand;
            }
            auto e = makeExpr(Expr::Kind::Unary);
            e->op = Op::Neg;
            e->base = std::move(operand);
            return e;
        }
        return parsePrimary();
    }

    ExprPtr parsePrimary()
    {
        if (m_pending)
            return std::move(m_pending);
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Number:
            return literal(next().number, true);
        case Tok::String:
            return literal(Value::fromString(next().text), true);
        case Tok::LParen: {
            next();
            auto e = makeExpr(Expr::Kind::Paren);
            e->base = parseExpression();
            expect(Tok::RParen, ")");
            return e;
        }
        case Tok::Identifier:
        case Tok::Dot:
            return parsePostfix(false);
        case Tok::Keyword:
            switch (t.keyword) {
            case Kw::True:
            case Kw::False:
                return literal(Value::fromBool(next().keyword == Kw::True), true);
            case Kw::Empty:
                next();
                return literal(Value(), false);
            case Kw::Null:
                next();
                return literal(Value::null(), false);
            case Kw::Nothing:
                next();
                return literal(Value::nothing(), false);
            case Kw::Me:
                return parsePostfix(false);
            case Kw::New: {
                next();
                const Token& name = expectIdentifier();
                auto e = makeExpr(Expr::Kind::New);
                e->name = name.text;
                e->spelling = name.spelling;
                return e;
            }
            default:
                break;
            }
            break;
        default:
            break;
        }
        failSyntax(1002, QStringLiteral("语法错误"));
    }

    std::unique_ptr<Stmt> parseIf()
    {
        auto s = makeStmt(Stmt::Kind::If);
        next();
        Branch first;
        first.conditions.push_back(parseExpression());
        expectKeyword(Kw::Then, "Then");

        if (!at(Tok::Newline) && !at(Tok::End)) {
            ++m_inline;
            first.body = parseInlineStatements();
            s->branches.push_back(std::move(first));
            if (atKeyword(Kw::Else)) {
                next();
                s->hasElse = true;
                s->elseBody = parseInlineStatements();
            }
            --m_inline;
            // "If x Then y = 1 End If": a one-line If may be closed like a block.
            if (atEndIf()) {
                next();
                next();
            }
            return s;
        }

        first.body = parseBlock({Kw::ElseIf, Kw::Else, Kw::End});
        s->branches.push_back(std::move(first));
        while (atKeyword(Kw::ElseIf)) {
            next();
            Branch branch;
            branch.conditions.push_back(parseExpression());
            expectKeyword(Kw::Then, "Then");
            branch.body = parseBlock({Kw::ElseIf, Kw::Else, Kw::End});
            s->branches.push_back(std::move(branch));
        }
        if (atKeyword(Kw::Else)) {
            next();
            s->hasElse = true;
            s->elseBody = parseBlock({Kw::End});
        }
        expectKeyword(Kw::End, "End If");
        expectKeyword(Kw::If, "End If");
        return s;
    }

    Block parseInlineStatements()
    {
        Block block;
        for (;;) {
            while (at(Tok::Colon))
                next();
            if (at(Tok::Newline) || at(Tok::End) || at(Tok::Html) || atKeyword(Kw::Else) || atEndIf())
                return block;
            if (auto s = parseStatement())
                block.push_back(std::move(s));
            if (!at(Tok::Colon))
                return block;
        }
    }

    void parseLoopCondition(Stmt& s)
    {
        s.until = atKeyword(Kw::Until);
        next();
        s.condition = parseExpression();
    }

    std::unique_ptr<Stmt> parseDo()
    {
        auto s = makeStmt(Stmt::Kind::Do);
        next();
        if (atKeyword(Kw::While) || atKeyword(Kw::Until))
            parseLoopCondition(*s);
        s->body = parseBlock({Kw::Loop});
        expectKeyword(Kw::Loop, "Loop");
        if (atKeyword(Kw::While) || atKeyword(Kw::Until)) {
            if (s->condition)
                failSyntax(1025, QStringLiteral("语句未结束"));
            parseLoopCondition(*s);
            s->testAtEnd = true;
        }
        return s;
    }

    std::unique_ptr<Stmt> parseWhile()
    {
        auto s = makeStmt(Stmt::Kind::Do);
        next();
        s->condition = parseExpression();
        s->body = parseBlock({Kw::Wend});
        expectKeyword(Kw::Wend, "Wend");
        return s;
    }

    std::unique_ptr<Stmt> parseFor()
    {
        auto s = makeStmt(Stmt::Kind::For);
        next();
        const bool each = atWord("each");
        if (each) {
            next();
            s->kind = Stmt::Kind::ForEach;
        }
        const Token& variable = expectIdentifier();
        s->variable = variable.text;
        s->variableSpelling = variable.spelling;
        if (each) {
            expectWord("in", "In");
            s->from = parseExpression();
        } else {
            expect(Tok::Eq, "=");
            s->from = parseExpression();
            expectWord("to", "To");
            s->to = parseExpression();
            if (atWord("step")) {
                next();
                s->step = parseExpression();
            }
        }
        s->body = parseBlock({Kw::Next});
        expectKeyword(Kw::Next, "Next");
        if (at(Tok::Identifier))
            next();
        return s;
    }

    std::unique_ptr<Stmt> parseSelect()
    {
        auto s = makeStmt(Stmt::Kind::Select);
        next();
        expectKeyword(Kw::Case, "Case");
        s->condition = parseExpression();
        for (;;) {
            while (at(Tok::Newline) || at(Tok::Colon) || at(Tok::Html))
                next();
            if (atKeyword(Kw::Case)) {
                next();
                if (atKeyword(Kw::Else)) {
                    next();
                    s->hasElse = true;
                    s->elseBody = parseBlock({Kw::End});
                    continue;
                }
                if (s->hasElse)
                    failSyntax(1002, QStringLiteral("缺少 'End Select'"));
                Branch branch;
                branch.conditions.push_back(parseExpression());
                while (at(Tok::Comma)) {
                    next();
                    branch.conditions.push_back(parseExpression());
                }
                branch.body = parseBlock({Kw::Case, Kw::End});
                s->branches.push_back(std::move(branch));
                continue;
            }
            expectKeyword(Kw::End, "End Select");
            expectKeyword(Kw::Select, "End Select");
            return s;
        }
    }

    std::unique_ptr<Stmt> parseExit()
    {
        auto s = makeStmt(Stmt::Kind::Exit);
        next();
        if (atKeyword(Kw::Do))
            s->exit = Stmt::Exit::Do;
        else if (atKeyword(Kw::For))
            s->exit = Stmt::Exit::For;
        else if (atKeyword(Kw::Sub))
            s->exit = Stmt::Exit::Sub;
        else if (atKeyword(Kw::Function))
            s->exit = Stmt::Exit::Function;
        else if (atWord("property"))
            s->exit = Stmt::Exit::Property;
        else
            failSyntax(1002, QStringLiteral("缺少 'Do'、'For'、'Sub' 或 'Function'"));
        next();
        return s;
    }

    std::unique_ptr<Stmt> parseOnError()
    {
        auto s = makeStmt(Stmt::Kind::OnError);
        next();
        expectWord("error", "Error");
        if (atWord("resume")) {
            next();
            expectKeyword(Kw::Next, "Next");
            s->resumeNext = true;
            return s;
        }
        expectKeyword(Kw::GoTo, "GoTo");
        if (!at(Tok::Number) || peek().number.toDouble() != 0)
            failUnsupported(QStringLiteral("的语句：On Error GoTo 标签"));
        next();
        return s;
    }

    std::unique_ptr<Stmt> parseProcedure() { return parseProcedure(true, false); }

    std::unique_ptr<Stmt> parseProcedure(bool isPublic, bool isDefault)
    {
        if (m_procedure)
            failSyntax(1002, QStringLiteral("语法错误"));
        auto procedure = std::make_unique<Procedure>();
        procedure->isPublic = isPublic;
        procedure->isDefault = isDefault;
        procedure->file = peek().file;
        procedure->line = peek().line;
        const char* ending = "End Sub";
        if (atWord("property")) {
            if (!m_class)
                failSyntax(1002, QStringLiteral("Property 只能写在 Class 中"));
            next();
            if (atWord("get"))
                procedure->kind = Procedure::Kind::Get;
            else if (atKeyword(Kw::Let))
                procedure->kind = Procedure::Kind::Let;
            else if (atKeyword(Kw::Set))
                procedure->kind = Procedure::Kind::Set;
            else
                failSyntax(1002, QStringLiteral("缺少 'Get'、'Let' 或 'Set'"));
            procedure->isFunction = procedure->kind == Procedure::Kind::Get;
            ending = "End Property";
        } else {
            procedure->isFunction = atKeyword(Kw::Function);
            procedure->kind = procedure->isFunction ? Procedure::Kind::Function : Procedure::Kind::Sub;
            if (procedure->isFunction)
                ending = "End Function";
        }
        next();
        const Token& name = expectIdentifier();
        procedure->name = name.text;
        procedure->spelling = name.spelling;
        if (at(Tok::LParen)) {
            next();
            while (!at(Tok::RParen)) {
                Param param;
                if (atKeyword(Kw::ByVal) || atKeyword(Kw::ByRef))
                    param.byRef = next().keyword == Kw::ByRef;
                param.name = expectIdentifier().text;
                if (at(Tok::LParen)) {
                    next();
                    expect(Tok::RParen, ")");
                }
                procedure->params.push_back(param);
                if (!at(Tok::Comma))
                    break;
                next();
            }
            expect(Tok::RParen, ")");
        }
        if ((procedure->kind == Procedure::Kind::Let || procedure->kind == Procedure::Kind::Set)
            && procedure->params.empty())
            failSyntax(1002, QStringLiteral("Property Let 和 Property Set 至少要有一个参数"));
        m_procedure = procedure.get();
        procedure->body = parseBlock({Kw::End});
        m_procedure = nullptr;
        expectKeyword(Kw::End, ending);
        if (procedure->kind == Procedure::Kind::Sub || procedure->kind == Procedure::Kind::Function)
            expectKeyword(procedure->isFunction ? Kw::Function : Kw::Sub, ending);
        else
            expectWord("property", ending);
        if (!m_class) {
            // As in VBScript, of two procedures of one name the later one is called.
            m_program->procedures[procedure->name] = std::move(procedure);
            return nullptr;
        }
        if (isDefault)
            m_class->defaultMember = procedure->name;
        switch (procedure->kind) {
        case Procedure::Kind::Get:
            m_class->getters[procedure->name] = std::move(procedure);
            break;
        case Procedure::Kind::Let:
            m_class->letters[procedure->name] = std::move(procedure);
            break;
        case Procedure::Kind::Set:
            m_class->setters[procedure->name] = std::move(procedure);
            break;
        default:
            m_class->methods[procedure->name] = std::move(procedure);
        }
        return nullptr;
    }

    std::unique_ptr<Stmt> parseWith()
    {
        auto s = makeStmt(Stmt::Kind::With);
        next();
        s->value = parseExpression();
        ++m_withDepth;
        s->body = parseBlock({Kw::End});
        --m_withDepth;
        expectKeyword(Kw::End, "End With");
        expectKeyword(Kw::With, "End With");
        return s;
    }

    std::unique_ptr<Stmt> parseClass()
    {
        if (m_procedure || m_class)
            failSyntax(1002, QStringLiteral("语法错误"));
        next();
        const Token& name = expectIdentifier();
        auto def = std::make_unique<ClassDef>();
        def->name = name.text;
        def->spelling = name.spelling;
        m_class = def.get();
        for (;;) {
            while (at(Tok::Newline) || at(Tok::Colon))
                next();
            if (atKeyword(Kw::End))
                break;
            bool isPublic = true, isDefault = false, scoped = false;
            if (atKeyword(Kw::Public) || atKeyword(Kw::Private)) {
                isPublic = next().keyword == Kw::Public;
                scoped = true;
                if (isPublic && atWord("default")) {
                    next();
                    isDefault = true;
                }
            }
            if (atKeyword(Kw::Sub) || atKeyword(Kw::Function) || atWord("property")) {
                parseProcedure(isPublic, isDefault);
            } else if (atKeyword(Kw::Dim) || scoped) {
                if (atKeyword(Kw::Dim))
                    next();
                auto fields = parseDim(Stmt::Kind::Dim);
                for (DimItem& item : fields->dims) {
                    item.isPublic = isPublic;
                    def->fields.push_back(std::move(item));
                }
            } else if (atKeyword(Kw::Const)) {
                failUnsupported(QStringLiteral("的语句：Class 中的 Const"));
            } else {
                failSyntax(1002, QStringLiteral("Class 中只能有 Dim、Sub、Function 和 Property"));
            }
            expectStatementEnd();
        }
        m_class = nullptr;
        expectKeyword(Kw::End, "End Class");
        expectKeyword(Kw::Class, "End Class");
        m_program->classes[def->name] = std::move(def);
        return nullptr;
    }

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    std::unique_ptr<Program> m_program;
    Procedure* m_procedure = nullptr;
    ClassDef* m_class = nullptr;
    int m_withDepth = 0;
    int m_inline = 0;
    ExprPtr m_pending; // an operand already read, for "Foo(a) & b" as a statement
};

} // namespace

std::unique_ptr<Program> parseProgram(ScannedPage page)
{
    Parser parser(std::move(page));
    auto program = parser.parse();
    resolveNames(*program);
    return program;
}

} // namespace asp
