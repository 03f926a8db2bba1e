#pragma once

class PowerInhibitor;

// Owner of the power assertion that keeps the computer awake while sessions run.
class RunActivity {
public:
    explicit RunActivity(PowerInhibitor* inhibitor) : m_inhibitor(inhibitor) {}
    ~RunActivity();
    RunActivity(const RunActivity&) = delete;
    RunActivity& operator=(const RunActivity&) = delete;

    // Takes or releases the assertion; nothing happens when the state is already `value`.
    // Activating without a login manager leaves the activity inactive; the next call tries
    // again.
    void setActive(bool value);
    bool active() const { return m_active; }

private:
    PowerInhibitor* m_inhibitor;
    int m_assertion = -1;
    bool m_active = false;
};
