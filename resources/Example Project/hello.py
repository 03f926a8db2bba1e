"""A small program to try VELK with: run it, change it, or ask an assistant to."""

from greetings import greeting


def main() -> None:
    for name in ("VELK", "your assistants", "you"):
        print(greeting(name))


if __name__ == "__main__":
    main()
