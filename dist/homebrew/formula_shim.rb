# Runs a formula's install and test blocks outside Homebrew: the few parts of
# Homebrew's formula language that elmpad's formula uses, with Homebrew's
# standard CMake arguments and a prefix of the caller's choosing.
# ruby formula_shim.rb FORMULA SOURCE_DIR PREFIX TEST_DIR VERSION
require "fileutils"
require "json"
require "minitest"
require "pathname"

class Formula
  include Minitest::Assertions
  attr_accessor :assertions

  class << self
    def desc(*) = nil
    def homepage(*) = nil
    def url(*) = nil
    def sha256(*) = nil
    def license(*) = nil
    def depends_on(*) = nil
    # `test do ... end`: kept to run after the install.
    def test(&block) = (@test_block = block)
    attr_reader :test_block
  end

  def self.inherited(subclass)
    super
    @formula_class = subclass
  end

  def self.formula_class = @formula_class

  def initialize(prefix, testpath, version)
    @prefix = Pathname(prefix)
    @testpath = Pathname(testpath)
    @version = version
    @assertions = 0
  end

  attr_reader :prefix, :testpath, :version

  def bin = prefix / "bin"

  # What Homebrew passes to every CMake build (Homebrew's CMake trap for
  # FetchContent left out: elmpad fetches nothing).
  def std_cmake_args
    %W[-DCMAKE_INSTALL_PREFIX=#{prefix} -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_FIND_FRAMEWORK=FIRST -DCMAKE_VERBOSE_MAKEFILE=ON -Wno-dev -DBUILD_TESTING=OFF]
  end

  def system(*args)
    puts args.join(" ")
    Kernel.system(*args) || raise("failed: #{args.join(" ")}")
  end

  def shell_output(command, status = 0)
    output = `#{command}`
    assert_equal status, $?.exitstatus, "exit status of #{command}"
    output
  end

  def run_test(&block) = instance_eval(&block)
end

formula, source, prefix, test_dir, version = ARGV
load formula
subject = Formula.formula_class.new(prefix, test_dir, version)
Dir.chdir(source) { subject.install }
Dir.chdir(test_dir) { subject.run_test(&Formula.formula_class.test_block) }
puts "formula test: #{subject.assertions} assertions passed"
