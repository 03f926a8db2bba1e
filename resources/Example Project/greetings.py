"""Greetings used by hello.py."""


def greeting(name: str) -> str:
    return f"Hello, {name}!"
