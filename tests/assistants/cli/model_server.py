#!/usr/bin/env python3
"""A local model server for the assistants tests: it answers the three wire protocols the
assistant command-line programs speak, from a scripted conversation, on the loopback only.

    model_server.py CONVERSATION.json LOG.jsonl PORT_FILE

- Anthropic Messages   POST /v1/messages (streamed as server-sent events or as one JSON)
- OpenAI Responses     POST /v1/responses (server-sent events)
- Gemini               POST /v1beta/models/<model>:streamGenerateContent (server-sent events)
                       and :generateContent, :countTokens

The port (chosen by the system) is written to PORT_FILE once the server listens. Every
request is appended to LOG.jsonl as {"protocol", "path", "time", "body"} before it is
answered, so a test reads what each program sent; once a turn of the conversation has been
sent in full, {"protocol": "answer", "to": PROTOCOL, "time", "turn": "run" | "write" |
"text"} follows, so a test knows when a program was asked to run a command (and asks its
user) and when its turn ended.

A conversation file is {"turns": [TURN, ...]}. Which turn answers a request is the number of
tool results the request already carries (the program sends one after running each tool
call), the last turn repeating; {"when": [{"contains": TEXT, "turns": [...]}]} gives
requests holding TEXT a conversation of their own. A turn is one of:
    {"text": "..."}                            a plain answer
    {"text": "...", "chunks": 6, "delay": 0.5} that answer streamed in pieces, slowly
    {"write": {"path": "a.txt", "content": "..."}, "text": "..."}
                                               a call of the program's own file-writing tool
                                               ("{protocol}" in the path: anthropic, openai or
                                               gemini)
    {"run": "shell command", "text": "..."}    a call of its shell tool (it asks the user)
    {"status": 500} / {"status": 429}           an HTTP error
    {"drop": true}                             the connection closed without an answer
Requests that are not a conversation (titles, token counts, classifiers) get short answers
that never consume a turn.
"""
import http.server
import json
import os
import re
import sys
import threading
import time

conversation = json.load(open(sys.argv[1]))
log_path = sys.argv[2]
log_lock = threading.Lock()


def log(protocol, path, body):
    with log_lock, open(log_path, "a") as out:
        out.write(json.dumps({"protocol": protocol, "path": path, "time": time.time(),
                                "body": body}) + "\n")


def log_answer(protocol, turn):
    kind = "run" if "run" in turn else "write" if "write" in turn else "text"
    with log_lock, open(log_path, "a") as out:
        out.write(json.dumps({"protocol": "answer", "to": protocol, "time": time.time(),
                              "turn": kind}) + "\n")


def turn_for(tool_results, body):
    turns = conversation["turns"]
    text = json.dumps(body)
    for branch in conversation.get("when", []):
        if branch["contains"] in text:
            turns = branch["turns"]
            break
    return turns[min(tool_results, len(turns) - 1)]


def working_folder(text):
    for pattern in (r"[Ww]orking directory: (/[^\s\\]+)", r"<cwd>(/[^<]+)</cwd>",
                    r"Workspace Directories:\*\*\\n *- (/[^\s\\]+)"):
        found = re.search(pattern, text)
        if found:
            return found.group(1)
    return ""


def pieces(text, count):
    count = max(1, min(count, len(text)))
    size = -(-len(text) // count)
    return [text[i:i + size] for i in range(0, len(text), size)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *arguments):
        pass

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length else b""
        try:
            return json.loads(raw or b"{}")
        except ValueError:
            return {"unparsed": raw.decode("utf-8", "replace")}

    def send_json(self, value, status=200):
        data = json.dumps(value).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def start_events(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def event(self, name, value):
        head = f"event: {name}\n" if name else ""
        self.wfile.write(f"{head}data: {json.dumps(value)}\n\n".encode())
        self.wfile.flush()

    def failed(self, turn):
        """Answers an error or drops the connection; true when the turn was one of them."""
        if turn.get("drop"):
            self.close_connection = True
            self.connection.shutdown(2)
            return True
        status = turn.get("status")
        if status:
            self.send_json({"type": "error", "error": {"type": "scripted_error", "code": status,
                            "status": "UNAVAILABLE", "message": f"scripted failure {status}"}},
                           status)
            return True
        return False

    def text_pieces(self, turn):
        text = turn.get("text", "")
        return pieces(text, turn.get("chunks", 1)) if text else []

    def pause(self, turn):
        time.sleep(turn.get("delay", 0))

    def do_GET(self):
        log("get", self.path, {})
        if self.headers.get("Upgrade"):
            # Codex asks for its web-socket transport first; without it, it posts.
            self.send_json({"error": {"message": "no web sockets here"}}, 404)
        elif self.path.split("?")[0].endswith("/models"):
            self.send_json({"data": [], "models": []})
        else:
            self.send_json({})

    do_HEAD = do_GET

    def do_POST(self):
        body = self.read_body()
        path = self.path.split("?")[0]
        if path.endswith("/messages/count_tokens"):
            log("anthropic", path, body)
            self.send_json({"input_tokens": 12})
        elif path.endswith("/messages"):
            log("anthropic", path, body)
            self.anthropic(body)
        elif path.endswith("/responses"):
            log("openai", path, body)
            self.openai(body)
        elif ":countTokens" in path:
            log("gemini", path, body)
            self.send_json({"totalTokens": 12})
        elif ":streamGenerateContent" in path or ":generateContent" in path:
            log("gemini", path, body)
            self.gemini(body, ":streamGenerateContent" in path)
        else:
            log("other", path, body)
            self.send_json({"error": {"message": "not here"}}, 404)

    # Anthropic Messages ----------------------------------------------------------------

    def anthropic(self, body):
        messages = body.get("messages", [])
        results = sum(1 for m in messages if isinstance(m.get("content"), list)
                      for block in m["content"] if block.get("type") == "tool_result")
        # A side request (a title, a quota probe) carries no tools.
        if not body.get("tools"):
            return self.anthropic_answer(body, [{"type": "text", "text": "Scripted task"}],
                                         "end_turn", {})
        turn = turn_for(results, body)
        if self.failed(turn):
            return
        blocks = []
        stop = "end_turn"
        folder = working_folder(json.dumps(body))
        if "write" in turn:
            path = turn["write"]["path"].replace("{protocol}", "anthropic")
            if folder and not path.startswith("/"):
                path = os.path.join(folder, path)
            blocks.append({"type": "tool_use", "id": f"toolu_{results}", "name": "Write",
                           "input": {"file_path": path, "content": turn["write"]["content"]}})
            stop = "tool_use"
        elif "run" in turn:
            blocks.append({"type": "tool_use", "id": f"toolu_{results}", "name": "Bash",
                           "input": {"command": turn["run"], "description": "Run the command"}})
            stop = "tool_use"
        self.anthropic_answer(body, blocks, stop, turn)
        log_answer("anthropic", turn)

    def anthropic_answer(self, body, tool_blocks, stop, turn):
        model = body.get("model", "claude-test")
        text_parts = self.text_pieces(turn) if not tool_blocks else []
        if not body.get("stream"):
            content = tool_blocks or [{"type": "text", "text": "".join(text_parts) or
                                       tool_blocks and "" or "Scripted task"}]
            if not tool_blocks and not text_parts:
                content = [{"type": "text", "text": "Scripted task"}]
            return self.send_json({"id": "msg_1", "type": "message", "role": "assistant",
                                   "model": model, "content": content, "stop_reason": stop,
                                   "stop_sequence": None,
                                   "usage": {"input_tokens": 12, "output_tokens": 5}})
        if not tool_blocks and not text_parts:
            text_parts = ["Scripted task"]
        self.start_events()
        self.event("message_start", {"type": "message_start", "message": {
            "id": "msg_1", "type": "message", "role": "assistant", "model": model,
            "content": [], "stop_reason": None, "stop_sequence": None,
            "usage": {"input_tokens": 12, "output_tokens": 1}}})
        index = 0
        if text_parts:
            self.event("content_block_start", {"type": "content_block_start", "index": 0,
                                               "content_block": {"type": "text", "text": ""}})
            for part in text_parts:
                self.pause(turn)
                self.event("content_block_delta", {"type": "content_block_delta", "index": 0,
                                                   "delta": {"type": "text_delta", "text": part}})
            self.event("content_block_stop", {"type": "content_block_stop", "index": 0})
            index = 1
        for block in tool_blocks:
            self.event("content_block_start", {"type": "content_block_start", "index": index,
                                               "content_block": dict(block, input={})})
            self.event("content_block_delta", {"type": "content_block_delta", "index": index,
                                               "delta": {"type": "input_json_delta",
                                                         "partial_json": json.dumps(block["input"])}})
            self.event("content_block_stop", {"type": "content_block_stop", "index": index})
            index += 1
        self.event("message_delta", {"type": "message_delta",
                                     "delta": {"stop_reason": stop, "stop_sequence": None},
                                     "usage": {"output_tokens": 5}})
        self.event("message_stop", {"type": "message_stop"})

    # OpenAI Responses ------------------------------------------------------------------

    def openai(self, body):
        items = body.get("input", [])
        items = items if isinstance(items, list) else []
        results = sum(1 for item in items
                      if item.get("type") in ("function_call_output", "custom_tool_call_output"))
        turn = turn_for(results, body)
        if self.failed(turn):
            return
        tools = {t.get("name"): t for t in body.get("tools", []) if isinstance(t, dict)}
        output = []
        if "write" in turn:
            path = turn["write"]["path"].replace("{protocol}", "openai")
            content = turn["write"]["content"]
            patch = "*** Begin Patch\n*** Add File: %s\n%s*** End Patch\n" % (
                path, "".join("+" + line + "\n" for line in content.splitlines()))
            if tools.get("apply_patch", {}).get("type") == "custom":
                output.append({"type": "custom_tool_call", "id": f"ctc_{results}",
                               "call_id": f"call_{results}", "name": "apply_patch",
                               "input": patch, "status": "completed"})
            elif "apply_patch" in tools:
                output.append(self.function_call(results, "apply_patch", {"input": patch}))
            else:
                # Codex's shell tool applies a patch given to `apply_patch` itself.
                output.append(self.shell_call(results, tools, [
                    "bash", "-lc", "apply_patch <<'PATCH'\n%sPATCH" % patch], False))
        elif "run" in turn:
            output.append(self.shell_call(results, tools, ["bash", "-lc", turn["run"]], True))
        self.start_events()
        response = {"id": f"resp_{results}", "object": "response", "status": "in_progress",
                    "model": body.get("model", "gpt-test"), "output": []}
        self.event("response.created", {"type": "response.created", "response": response})
        text_parts = self.text_pieces(turn) if not output else []
        if text_parts:
            self.event("response.output_item.added", {
                "type": "response.output_item.added", "output_index": 0,
                "item": {"type": "message", "id": "msg_1", "role": "assistant",
                         "status": "in_progress", "content": []}})
            for part in text_parts:
                self.pause(turn)
                self.event("response.output_text.delta", {
                    "type": "response.output_text.delta", "item_id": "msg_1",
                    "output_index": 0, "content_index": 0, "delta": part})
            output.append({"type": "message", "id": "msg_1", "role": "assistant",
                           "status": "completed",
                           "content": [{"type": "output_text", "text": "".join(text_parts),
                                        "annotations": []}]})
        for index, item in enumerate(output):
            self.event("response.output_item.done", {"type": "response.output_item.done",
                                                     "output_index": index, "item": item})
        response = dict(response, status="completed", output=output, usage={
            "input_tokens": 12, "input_tokens_details": {"cached_tokens": 0},
            "output_tokens": 5, "output_tokens_details": {"reasoning_tokens": 0},
            "total_tokens": 17})
        self.event("response.completed", {"type": "response.completed", "response": response})
        if tools:  # not a side request of the program's own
            log_answer("openai", turn)

    def function_call(self, index, name, arguments):
        return {"type": "function_call", "id": f"fc_{index}", "call_id": f"call_{index}",
                "name": name, "arguments": json.dumps(arguments), "status": "completed"}

    def shell_call(self, index, tools, command, escalated):
        if "exec_command" in tools:
            line = command[-1] if command[0] == "bash" else " ".join(command)
            arguments = {"cmd": line}
            if escalated:
                # Asked to leave its sandbox, Codex asks the user first.
                arguments.update(sandbox_permissions="require_escalated",
                                 justification="Run the command")
            return self.function_call(index, "exec_command", arguments)
        return self.function_call(index, "shell", {"command": command})

    # Gemini ----------------------------------------------------------------------------

    def gemini(self, body, streamed):
        contents = body.get("contents", [])
        results = sum(1 for c in contents for part in c.get("parts", [])
                      if "functionResponse" in part)
        config = body.get("generationConfig") or {}
        if not body.get("tools") and not streamed or config.get("responseJsonSchema") or \
                config.get("responseMimeType") == "application/json":
            # A classifier or a check the program makes for itself.
            answer = {"reasoning": "scripted", "model_choice": "flash", "next_speaker": "user",
                      "complexity_reasoning": "scripted", "complexity_score": 1}
            return self.gemini_answer([[{"text": json.dumps(answer)}]], streamed, {})
        turn = turn_for(results, body)
        if self.failed(turn):
            return
        folder = working_folder(json.dumps(body))
        if "write" in turn:
            path = turn["write"]["path"].replace("{protocol}", "gemini")
            if folder and not path.startswith("/"):
                path = os.path.join(folder, path)
            chunks = [[{"functionCall": {"name": "write_file", "args": {
                "file_path": path, "content": turn["write"]["content"]}}}]]
        elif "run" in turn:
            chunks = [[{"functionCall": {"name": "run_shell_command", "args": {
                "command": turn["run"], "description": "Run the command"}}}]]
        else:
            chunks = [[{"text": part}] for part in self.text_pieces(turn)] or [[{"text": " "}]]
        self.gemini_answer(chunks, streamed, turn)
        log_answer("gemini", turn)

    def gemini_answer(self, chunks, streamed, turn):
        def candidate(parts, last):
            value = {"content": {"role": "model", "parts": parts}, "index": 0}
            if last:
                value["finishReason"] = "STOP"
            return {"candidates": [value], "modelVersion": "gemini-test",
                    "usageMetadata": {"promptTokenCount": 12, "candidatesTokenCount": 5,
                                      "totalTokenCount": 17}}
        if not streamed:
            parts = [part for chunk in chunks for part in chunk]
            return self.send_json(candidate(parts, True))
        self.start_events()
        for index, parts in enumerate(chunks):
            self.pause(turn)
            self.event(None, candidate(parts, index == len(chunks) - 1))


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
port_file = sys.argv[3]
with open(port_file + ".part", "w") as out:
    out.write(str(server.server_address[1]))
os.rename(port_file + ".part", port_file)
server.serve_forever()
