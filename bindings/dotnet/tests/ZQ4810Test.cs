// The .NET class against lib2KZQ4810.so under Mono: one table of calls, each
// row with the simulator's settings (ZQ4810_SIM) it needs and the outcome it
// must give: a value, or the exception and the library's result. The
// simulator reads its settings once, when the library is loaded, so every
// row runs in a process of its own: this program started again with --row N.
// The width rows read the Windows builds' DLLs where those are built.
//
// Usage: zq4810_dotnet_tests.exe --junit REPORT --example README_EXAMPLE.exe
using System;
using System.Diagnostics;
using System.IO;
using System.Text;
using ZQ4810;

static class Tests
{
    delegate object Action();

    struct Row
    {
        public string Name, Sim, Expected, Needs;
        public Action Run;
        // needs: a file the row reads, without which it is skipped.
        public Row(string name, string sim, Action run, string expected, string needs = null)
        {
            Name = name;
            Sim = sim;
            Run = run;
            Expected = expected;
            Needs = needs;
        }
    }

    static readonly string Dll32 = Environment.GetEnvironmentVariable("ZQ4810_WIN32_DLL") ?? "the 32-bit DLL";
    static readonly string Dll64 = Environment.GetEnvironmentVariable("ZQ4810_WIN64_DLL") ?? "the 64-bit DLL";

    static readonly Row[] Rows = {
        new Row("first setup", "", () => Board.CheckIfDriver(), "FirstSetup"),
        new Row("first setup declined", "answer=no", () => Board.CheckIfDriver(), "Declined"),
        new Row("registry fails", "registry-fails", () => Board.CheckIfDriver(), "DeviceException 255"),
        new Row("every axis passes", "", () => Board.Initialize(), "[]"),
        new Row("axis 2 fails its self-test", "axis-fails=2", () => Board.Initialize(), "[2]"),
        new Row("no device", "no-device", () => Board.Initialize(), "DeviceException 255"),
        new Row("reset, then read", "", () => { Board.Initialize(); Board.ResetCounter(1); return Board.ReadPosition(1); }, "0"),
        // INITIALIZE makes 62 requests: the 63rd is the reset's.
        new Row("a failed request", "request-fails=63", () => { Board.Initialize(); Board.ResetCounter(0); return null; }, "DeviceException 255"),
        new Row("four failed writes", "", () => { Board.SetMultiplier(2); return null; }, "DeviceException 1020"),
        new Row("multiplier 3", "", () => { Board.SetMultiplier(3); return null; }, "ArgumentOutOfRangeException"),
        // The library itself takes these as a write of nothing and of the low 24 bits.
        new Row("selector 5", "", () => { Board.ChangeMode(5, 0); return null; }, "ArgumentOutOfRangeException"),
        new Row("preset beyond 24 bits", "", () => { Board.PresetWrite(0, 1 << 24); return null; }, "ArgumentOutOfRangeException"),
        new Row("nothing to remove", "", () => { Board.DeleteAll(); return null; }, "DeviceException 765"),
        new Row("32-bit DLL, 32-bit process", "", () => Width(Dll32, 32), "x86", Dll32),
        new Row("32-bit DLL, 64-bit process", "", () => Width(Dll32, 64), "BadImageFormatException", Dll32),
        new Row("64-bit DLL, 32-bit process", "", () => Width(Dll64, 32), "BadImageFormatException", Dll64),
    };

    // A folder that holds dll where a process of the other width would look
    // too, so that only the width decides; the folder's name for it.
    static object Width(string dll, int bits)
    {
        string folder = Path.Combine(Path.GetTempPath(), "zq4810-width-" + Process.GetCurrentProcess().Id);
        foreach (string width in new[] { "x86", "x64" })
        {
            Directory.CreateDirectory(Path.Combine(folder, width));
            File.Copy(dll, Path.Combine(Path.Combine(folder, width), "2KZQ4810.dll"), true);
        }
        try
        {
            return Path.GetFileName(Path.GetDirectoryName(Board.LibraryPath(folder, bits)));
        }
        finally
        {
            Directory.Delete(folder, true);
        }
    }

    static string Outcome(Action run)
    {
        try
        {
            object value = run();
            int[] axes = value as int[];
            return axes != null ? "[" + string.Join(", ", axes) + "]" : value == null ? "null" : value.ToString();
        }
        catch (DeviceException e)
        {
            return "DeviceException " + e.Result;
        }
        catch (Exception e)
        {
            return e.GetType().Name;
        }
    }

    // Runs program under this process's runtime with ZQ4810_SIM set: its
    // status and standard output.
    static int Start(string program, string arguments, string sim, out string output)
    {
        ProcessStartInfo start = new ProcessStartInfo(Process.GetCurrentProcess().MainModule.FileName, "\"" + program + "\" " + arguments);
        start.UseShellExecute = false;
        start.RedirectStandardOutput = true;
        start.EnvironmentVariables["ZQ4810_SIM"] = sim;
        using (Process child = Process.Start(start))
        {
            output = child.StandardOutput.ReadToEnd().Trim();
            child.WaitForExit();
            return child.ExitCode;
        }
    }

    static int Main(string[] args)
    {
        if (args.Length == 2 && args[0] == "--row")
        {
            Console.WriteLine(Outcome(Rows[int.Parse(args[1])].Run));
            return 0;
        }
        if (args.Length != 4 || args[0] != "--junit" || args[2] != "--example")
        {
            Console.Error.WriteLine("usage: zq4810_dotnet_tests.exe --junit REPORT --example README_EXAMPLE.exe");
            return 2;
        }
        string self = typeof(Tests).Assembly.Location;
        StringBuilder cases = new StringBuilder();
        int failures = 0, skips = 0;
        for (int i = 0; i <= Rows.Length; ++i)
        {
            string name, problem = null, skipped = null;
            if (i < Rows.Length)
            {
                Row row = Rows[i];
                name = row.Name;
                if (row.Needs != null && !File.Exists(row.Needs))
                {
                    skipped = "no " + row.Needs + " (build the win32 and win64 presets)";
                }
                else
                {
                    string output;
                    int status = Start(self, "--row " + i, row.Sim, out output);
                    if (status != 0 || output != row.Expected)
                    {
                        problem = "gave '" + output + "' (status " + status + "), expected '" + row.Expected + "'";
                    }
                }
            }
            else
            {
                // The user's README's C# example, as written, on the simulated
                // board: the pattern the self-test left, then 0 after the reset.
                name = "README example";
                string output;
                int status = Start(args[3], "", "", out output);
                string expected = "axis 0 after the self-test: " + (0xDA5712 - 0x1000000) + "\naxis 0 after the reset: 0";
                if (status != 0 || output.Replace("\r", "") != expected)
                {
                    problem = "ended with status " + status + ": " + output;
                }
            }
            Console.WriteLine((problem != null ? "FAILED " : skipped != null ? "skipped " : "passed ") + name +
                              (problem != null ? ": " + problem : skipped != null ? ": " + skipped : ""));
            cases.Append("  <testcase classname=\"dotnet\" name=\"" + System.Security.SecurityElement.Escape(name) + "\">");
            if (problem != null)
            {
                ++failures;
                cases.Append("<failure message=\"" + System.Security.SecurityElement.Escape(problem) + "\"/>");
            }
            else if (skipped != null)
            {
                ++skips;
                cases.Append("<skipped message=\"" + System.Security.SecurityElement.Escape(skipped) + "\"/>");
            }
            cases.Append("</testcase>\n");
        }
        File.WriteAllText(args[1], "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<testsuite name=\"dotnet\" tests=\"" +
                          (Rows.Length + 1) + "\" failures=\"" + failures + "\" skipped=\"" + skips + "\">\n" + cases + "</testsuite>\n");
        Console.WriteLine((Rows.Length + 1 - failures - skips) + " passed, " + failures + " failed, " + skips + " skipped");
        return failures == 0 ? 0 : 1;
    }
}
