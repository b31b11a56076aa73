// 2KZQ4810.dll from C# and the other .NET languages: add this file to the
// application's project, and copy the release's x86\2KZQ4810.dll and
// x64\2KZQ4810.dll into folders x86\ and x64\ beside the application's .exe.
// The class loads the DLL of the process's own width from there by its
// absolute path, and reads the file's machine type first, so that a DLL of
// the other width is one clear error rather than a BadImageFormatException
// at the first call with nothing said about which file was wrong. An AnyCPU
// application therefore runs as a 32-bit and as a 64-bit process alike.
//
// Board's methods throw DeviceException where the library reports a failure
// (255 for each failed step): by then the library has shown the user its
// notice, a modal message box that waits for a click. Arguments outside what
// the board takes throw ArgumentOutOfRangeException before anything reaches
// the library. Calls must not overlap: serialise them across threads.
using System;
using System.IO;
using System.Runtime.InteropServices;

namespace ZQ4810
{
    // The eleven exports as the DLL has them: 32-bit signed integers in and
    // out, the standard calling convention of system functions (stdcall on
    // 32-bit Windows; x64 has one convention). Elsewhere the runtime looks
    // for the name 2KZQ4810 as lib2KZQ4810.so, the development build of the
    // library on the simulated platform.
    public static class NativeMethods
    {
        const string Dll = "2KZQ4810";

        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CHECKIFDRIVER();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810SETBASEADDRESS(int baseAddress);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810INITIALIZE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810READPOSITION(int axis);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810RESETCOUNTER(int axis);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810SETMULTIPLIER(int multiplier);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CHANGEMODE(int selector, int mode);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810PRWRITE(int axis, int value);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CLOSE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810DELETE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810DELETEALL();
    }

    // What CheckIfDriver found.
    public enum Registration
    {
        Registered = 0,  // the driver's service key was there already
        FirstSetup = 1,  // created now: set the base address, then restart Windows
        Declined = -1,   // created now and the user answered No: removed again
    }

    // The library reported a failure, after showing its notice. Result is the
    // export's result (255, or 510, 765, 1020 when several steps failed).
    public class DeviceException : Exception
    {
        public DeviceException(string function, int result)
            : base(function + " failed with " + result + "; the library has shown its notice")
        {
            Function = function;
            Result = result;
        }

        public string Function { get; private set; }
        public int Result { get; private set; }
        public int FailedSteps { get { return Result / Board.Failure; } }
    }

    public static class Board
    {
        // Each failed step of an operation adds this to its result.
        public const int Failure = 255;

        static bool loaded;

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        // The 2KZQ4810.dll that a process of this width (32 or 64) loads from
        // folder: folder\x86 or folder\x64, checked to be of that width.
        public static string LibraryPath(string folder, int bits)
        {
            string width = bits == 64 ? "x64" : "x86";
            string path = Path.Combine(Path.Combine(Path.GetFullPath(folder), width), "2KZQ4810.dll");
            string found;
            try
            {
                found = Machine(path);
            }
            catch (IOException e)
            {
                throw new DllNotFoundException("ZQ4810: cannot read " + path + ": " + e.Message, e);
            }
            catch (UnauthorizedAccessException e)
            {
                throw new DllNotFoundException("ZQ4810: cannot read " + path + ": " + e.Message, e);
            }
            if (found != width)
            {
                string what = found == "x86" ? "the 32-bit (x86) DLL" : found == "x64" ? "the 64-bit (x64) DLL" : found;
                throw new BadImageFormatException("ZQ4810: " + path + " is " + what + ", but this process is " + bits +
                    "-bit and needs the " + bits + "-bit (" + width + ") one: x86 holds the 32-bit 2KZQ4810.dll, x64 the 64-bit one",
                    path);
            }
            return path;
        }

        // x86 or x64 for a PE file of that machine, a description otherwise.
        static string Machine(string path)
        {
            using (FileStream file = File.OpenRead(path))
            {
                byte[] dos = new byte[64];
                if (file.Read(dos, 0, 64) < 64 || dos[0] != 'M' || dos[1] != 'Z')
                {
                    return "not a Windows DLL";
                }
                file.Seek(BitConverter.ToUInt32(dos, 0x3C), SeekOrigin.Begin);
                byte[] header = new byte[6];
                if (file.Read(header, 0, 6) < 6 || header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0)
                {
                    return "not a Windows DLL";
                }
                int machine = BitConverter.ToUInt16(header, 4);
                return machine == 0x014C ? "x86" : machine == 0x8664 ? "x64" : "a DLL for machine type 0x" + machine.ToString("X4");
            }
        }

        // On Windows the DLL of this process's width, by absolute path, before
        // the first call: the runtime's own lookup of "2KZQ4810" then finds it
        // loaded already.
        static void Load()
        {
            if (loaded)
            {
                return;
            }
            if (Environment.OSVersion.Platform == PlatformID.Win32NT)
            {
                string path = LibraryPath(AppDomain.CurrentDomain.BaseDirectory, IntPtr.Size * 8);
                if (LoadLibraryW(path) == IntPtr.Zero)
                {
                    throw new DllNotFoundException("ZQ4810: " + path + " does not load (error " + Marshal.GetLastWin32Error() + ")");
                }
            }
            loaded = true;
        }

        static int Within(string what, int value, int low, int high)
        {
            if (value < low || value > high)
            {
                throw new ArgumentOutOfRangeException(what, value, what + " " + value + " is not in " + low + ".." + high);
            }
            return value;
        }

        static void Succeed(string function, int result)
        {
            if (result != 0)
            {
                throw new DeviceException(function, result);
            }
        }

        // Whether the driver is registered; on a first setup the library
        // creates the registration and asks the user whether to go on. Needs
        // administrator rights.
        public static Registration CheckIfDriver()
        {
            Load();
            int result = NativeMethods.AZQ4810CHECKIFDRIVER();
            if (result == Failure)
            {
                throw new DeviceException("AZQ4810CHECKIFDRIVER", result);
            }
            return (Registration)result;
        }

        // Registers the board's base I/O address (0..0xFFFF) for the driver,
        // which reads it when Windows starts.
        public static void SetBaseAddress(int baseAddress)
        {
            Within("baseAddress", baseAddress, 0, 0xFFFF);
            Load();
            Succeed("AZQ4810SETBASEADDRESS", NativeMethods.AZQ4810SETBASEADDRESS(baseAddress));
        }

        // Opens the device and starts the board: the axes that failed their
        // self-test, none when every axis passed.
        public static int[] Initialize()
        {
            Load();
            int result = NativeMethods.AZQ4810INITIALIZE();
            if (result == Failure)
            {
                throw new DeviceException("AZQ4810INITIALIZE", result);
            }
            int count = 0;
            int[] failed = new int[4];
            for (int axis = 0; axis < 4; ++axis)
            {
                if ((result >> axis & 1) != 0)
                {
                    failed[count++] = axis;
                }
            }
            Array.Resize(ref failed, count);
            return failed;
        }

        // The axis's 24-bit count, sign-extended. A failed read is told only by
        // the library's notice: the value is then meaningless.
        public static int ReadPosition(int axis)
        {
            Within("axis", axis, 0, 3);
            Load();
            return NativeMethods.AZQ4810READPOSITION(axis);
        }

        public static void ResetCounter(int axis)
        {
            Within("axis", axis, 0, 3);
            Load();
            Succeed("AZQ4810RESETCOUNTER", NativeMethods.AZQ4810RESETCOUNTER(axis));
        }

        // The count multiplier, 1, 2 or 4, of every axis.
        public static void SetMultiplier(int multiplier)
        {
            if (multiplier != 1 && multiplier != 2 && multiplier != 4)
            {
                throw new ArgumentOutOfRangeException("multiplier", multiplier, "multiplier " + multiplier + " is not 1, 2 or 4");
            }
            Load();
            Succeed("AZQ4810SETMULTIPLIER", NativeMethods.AZQ4810SETMULTIPLIER(multiplier));
        }

        // Sets mode field selector (0..3), or all four (4), to mode (0..15).
        public static void ChangeMode(int selector, int mode)
        {
            Within("selector", selector, 0, 4);
            Within("mode", mode, 0, 15);
            Load();
            Succeed("AZQ4810CHANGEMODE", NativeMethods.AZQ4810CHANGEMODE(selector, mode));
        }

        // Loads value into the axis's 24-bit preset register: a signed count
        // (-8388608..8388607) or its unsigned bits (up to 16777215).
        public static void PresetWrite(int axis, int value)
        {
            Within("axis", axis, 0, 3);
            Within("value", value, -0x800000, 0xFFFFFF);
            Load();
            Succeed("AZQ4810PRWRITE", NativeMethods.AZQ4810PRWRITE(axis, value));
        }

        public static void Close()
        {
            Load();
            Succeed("AZQ4810CLOSE", NativeMethods.AZQ4810CLOSE());
        }

        // Removes the driver's service key, which must have no subkeys left.
        public static void Delete()
        {
            Load();
            Succeed("AZQ4810DELETE", NativeMethods.AZQ4810DELETE());
        }

        // Removes the driver's registration: its Parameters and Enum subkeys
        // and the service key. Close the device first.
        public static void DeleteAll()
        {
            Load();
            Succeed("AZQ4810DELETEALL", NativeMethods.AZQ4810DELETEALL());
        }
    }
}
